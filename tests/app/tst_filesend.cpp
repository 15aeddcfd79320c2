// Loading a text file and sending it, as the operator does: "Abrir Arquivo",
// then "&Enviar" on the main window, over ComPort1 on a virtual line or
// PortIO1 on a virtual parallel port, with the virtual printer at the far end.
#include "app/Application.h"
#include "app/FileSend.h"
#include "app/Form1.h"
#include "app/Form4.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "app/LoadedFile.h"
#include "app/ProgramEnd.h"
#include "comport/LoopbackPeer.h"
#include "comport/Pty.h"
#include "comport/Ser2net.h"
#include "connection/Disconnect.h"
#include "connection/FarEnd.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "link/comport/ComLed.h"
#include "link/comport/PortMap.h"
#include "sim/paper/PaperText.h"
#include "windowkit/Messages.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeView>

#include <atomic>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using Entry = Messages::Recorder::Entry;
using Form = Messages::Form;

const QString TooBig = QStringLiteral("O Arquivo é muito grande para ser enviado pela serial");

QByteArray receipt(int size) {
    const QByteArray line = "Caf\xe9 1,50\r\n";
    QByteArray bytes;
    while (bytes.size() < size)
        bytes += line;
    return bytes.left(size);
}

// Stands between the link and the devices: records each serial block and
// each byte put on the parallel data lines, what the main window showed
// meanwhile, and serial blocks written before the previous block's
// transmitter-empty event. It can also hold the parallel busy line.
class LinkRecorder : public SerialPortAccess, public PortAccess {
public:
    LinkRecorder() : serial_(LinkDevices.ComPort1), port_(LinkDevices.PortIO1) {
        LinkDevices.ComPort1 = this;
        LinkDevices.PortIO1 = this;
        txLink_.OnTxEmpty = [this](TCustomComPort*) { ++txEmpties_; };
        Form3->ComPort1->RegisterLink(&txLink_);
    }
    ~LinkRecorder() override {
        Form3->ComPort1->UnRegisterLink(&txLink_);
        LinkDevices.ComPort1 = serial_;
        LinkDevices.PortIO1 = port_;
    }
    void clear() {
        blocks.clear();
        strobed = 0;
        blocksBeforeTxEmpty = 0;
        txEmpties_ = 0;
        shownWhileSending.clear();
    }
    int sent() const { return std::accumulate(blocks.cbegin(), blocks.cend(), strobed); }

    int Write(const void* buffer, int count) override {
        if (blocks.size() > txEmpties_)
            ++blocksBeforeTxEmpty;
        blocks << count;
        seen();
        return serial_->Write(buffer, count);
    }
    int Read(void* buffer, int count) override { return serial_->Read(buffer, count); }
    void ClearInput() override { serial_->ClearInput(); }
    void SetOutCTSFlow(bool on) override { serial_->SetOutCTSFlow(on); }
    uint8_t GetPortByte(uint16_t address) override {
        const uint8_t value = port_->GetPortByte(address);
        return holdBusy && address == LinkState.LptBasePort + 1 ? value & 0x7F : value;
    }
    void SetPortByte(uint16_t address, uint8_t value) override {
        if (address == LinkState.LptBasePort) {
            ++strobed;
            seen();
        }
        port_->SetPortByte(address, value);
    }

    QList<int> blocks;
    int strobed = 0;
    int blocksBeforeTxEmpty = 0;
    bool holdBusy = false;
    QSet<QString> shownWhileSending;

private:
    void seen() {
        const bool led = Form1->ComLed4->State() == lsOn;
        shownWhileSending.insert(Form1->BitBtn3->text() + (led ? " LED" : ""));
    }

    SerialPortAccess* serial_;
    PortAccess* port_;
    TComLink txLink_;
    int txEmpties_ = 0;
};

// tellumo-printer serving the printer as a serial device server does, on
// RFC 2217, with its panel on a control socket.
class NetworkPrinter {
public:
    explicit NetworkPrinter(const QString& folder)
        : control_(folder + "/printer.ctl"), text_(folder + "/printer.txt") {
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(QStringLiteral(TELLUMO_PRINTER), {"--rfc2217", "127.0.0.1:0", "--speed", "0",
                                                         "--control", control_, "--text", text_});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(control_), 20000);
    }
    ~NetworkPrinter() {
        process_.terminate();
        process_.waitForFinished(30000);
    }
    QByteArray ask(const QByteArray& command) const {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(control_).constData(),
                 sizeof address.sun_path);
        QByteArray answer;
        char c = 0;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::write(fd, command + '\n', size_t(command.size() + 1)) == command.size() + 1)
            while (::read(fd, &c, 1) == 1 && c != '\n')
                answer += c;
        ::close(fd);
        return answer;
    }
    QString url() const {
        const QJsonObject state = QJsonDocument::fromJson(ask("state")).object();
        return "rfc2217://" + state["rfc2217"]["address"].toString();
    }
    // The paper as text, saved now.
    QString paper() const {
        QFile file(text_);
        return ask("save") == "ok" && file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll())
                   : QString();
    }

private:
    QString control_;
    QString text_;
    QProcess process_;
};

} // namespace

Q_DECLARE_METATYPE(QList<Entry>)

class FileSendTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<FarEnd> farEnd;
    std::unique_ptr<LinkRecorder> link;
    LinkSleep::Sleeper previousSleeper;
    ProgramEnd::Quitter previousQuitter;
    int quits = 0;

    QString write(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(name));
        return name;
    }

    // "&Abrir", the name typed into the dialog, OK.
    void load(const QString& name) {
        Form1->Abrir1->trigger();
        Form4->FileName->setText(name);
        Form4->BitBtn2->click();
    }

    // Connects as the operator does; the serial line then runs fast unless
    // the test is about line time.
    void connectTo(const QString& interface, bool fast = true) {
        Messages::Recorder quiet;
        if (interface == "serial") {
            Form3->BitBtn2->click();
            if (fast) {
                Form3->ComPort1->SetCustomBaudRate(1'000'000);
                Form3->ComPort1->SetBaudRate(brCustom);
            }
        } else if (interface == "parallel") {
            Form9->BitBtn1->click();
        }
        QTest::qWait(20);
        link->clear();
        farEnd->received.clear();
    }

    // Runs act once, when the first bytes of the send reach the printer.
    void onFirstBytes(std::function<void()> act) {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(&farEnd->printer, &VirtualPrinter::logged, &farEnd->context,
                              [connection, act](const PrinterLogEntry& entry) {
                                  if (entry.kind != PrinterLogEntry::Kind::Received)
                                      return;
                                  QObject::disconnect(*connection);
                                  act();
                              });
    }
    // The printer goes off-line as the first bytes reach it, so the send
    // waits for it after its first block.
    void stallAfterFirstBytes() {
        onFirstBytes([this] { farEnd->printer.setOffline(true); });
    }

    void verifyIdle() {
        QCOMPARE(Form1->BitBtn3->text(), QStringLiteral("&Enviar"));
        QVERIFY(!LinkState.CancelRequested);
        QCOMPARE(Form1->ComLed4->State(), lsOff);
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        previousSleeper = LinkSleep::setSleeper([](int) {});
        previousQuitter = ProgramEnd::setQuitter([this] { ++quits; });
        scaleDownReadTimeouts(*Form3->ComPort1);
        Form4->OpenDirectory(dir.path());
    }
    void cleanupTestCase() {
        // The folder's removal goes by names UTF-8 can spell.
        ::unlink((QFile::encodeName(dir.path()) + "/recibo\xe7.txt").constData());
        LinkSleep::setSleeper(previousSleeper);
        ProgramEnd::setQuitter(previousQuitter);
    }

    void init() {
        LinkState = TLinkState{};
        LoadedFile = TLoadedFile{};
        quits = 0;
        farEnd = std::make_unique<FarEnd>();
        farEnd->printer.setBufferSize(1 << 20);
        link = std::make_unique<LinkRecorder>();
    }

    void cleanup() {
        link.reset();
        disconnectBoth();
        Form3->ComPort1->FlowControl().SetOutCTSFlow(false);
        Form3->ComPort1->Timeouts().SetWriteTotalMultiplier(100);
        Form3->ComPort1->Timeouts().SetWriteTotalConstant(1000);
        Form9->CheckBox1->setChecked(true);
        Form4->hide();
        Form4->OpenDirectory(dir.path());
        Form1->setEnabled(true);
        farEnd.reset();
        LinkState = TLinkState{};
    }

    void loadShowsTheFileOnTheMainWindow_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("abc CR LF def") << QByteArray("abc\r\ndef") << QStringList{"abc", "", "def"};
        QTest::newRow("41 bytes") << QByteArray(41, 'x') << QStringList{QString(40, 'x'), "x"};
        QTest::newRow("40 bytes") << QByteArray(40, 'x') << QStringList{QString(40, 'x')};
        QTest::newRow("form feed inside") << QByteArray("ab\x0c"
                                                        "cd")
                                          << QStringList{"ab<FF>", "cd"};
        QTest::newRow("two line feeds") << QByteArray("\n\n") << QStringList{"", ""};
        QTest::newRow("zero byte") << QByteArray("ab\0cd\nef", 8) << QStringList{"ab", "ef"};
        QTest::newRow("code page and control bytes")
            << QByteArray("Ol\xe1 \x1b!\x0c") << QStringList{QStringLiteral("Olá <ESC>!<FF>")};
        // A piece still open where the stored bytes end is not shown.
        QStringList lines(749, QString(40, 'a'));
        lines << QString(30, 'a');
        QTest::newRow("45000 bytes")
            << QByteArray(29990, 'a') + '\n' + QByteArray(15009, 'b') << lines;
    }
    void loadShowsTheFileOnTheMainWindow() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        Messages::Recorder recorder;
        load(write("recibo.txt", bytes));
        QVERIFY(recorder.entries.isEmpty());
        QVERIFY(!Form4->isVisible());
        QVERIFY(Form1->isEnabled());
        QCOMPARE(Form1->RichEdit1->toPlainText(), lines.join('\n'));
        QVERIFY(LoadedFile.FileLoaded);
        QCOMPARE(LoadedFile.FileSize, bytes.size());
        const int stored = std::min<int>(bytes.size(), FileBufferCapacity);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(LoadedFile.FileBuffer.data()), stored),
                 bytes.left(stored));
        if (stored < FileBufferCapacity) // nothing left of the file loaded before
            QCOMPARE(LoadedFile.FileBuffer[stored], 0xFF);
        QCOMPARE(Form1->StaticText3->text(), QString::number(bytes.size()));
        QCOMPARE(Form1->StaticText7->text(), QStringLiteral("recibo.txt"));
        QCOMPARE(Form1->ProgressBar1->value(), stored);
        QCOMPARE(Form1->ProgressBar1->maximum(), std::max<int>(bytes.size(), 1));
    }

    void aNameThatCannotBeOpenedKeepsTheEarlierFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("vanishes"); // deleted once the dialog has listed it
        QVERIFY(QDir(dir.path()).mkpath("pasta"));
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("fila.txt")).constData(), 0600) == 0);
        QVERIFY(QFile::link(dir.filePath("sumiu.txt"), dir.filePath("quebrado.txt")));
        // A name the file system holds but UTF-8 cannot spell.
        const QByteArray latin1 = QFile::encodeName(dir.path()) + "/recibo\xe7.txt";
        QVERIFY(::close(::creat(latin1.constData(), 0600)) == 0);
        QVERIFY(QFile(dir.filePath(write("fechado.txt", "x"))).setPermissions({}));
        QTest::newRow("the mask") << "*.txt" << false;
        QTest::newRow("missing") << "sumiu.txt" << false;
        QTest::newRow("a directory") << "pasta" << false;
        QTest::newRow("a FIFO") << "fila.txt" << false;
        QTest::newRow("a device") << "/dev/zero" << false;
        QTest::newRow("a dangling link") << "quebrado.txt" << false;
        QTest::newRow("not valid UTF-8") << QFile::decodeName(latin1) << false;
        QTest::newRow("no read permission") << "fechado.txt" << false;
        QTest::newRow("deleted after it was listed") << write("apagado.txt", "x") << true;
    }
    void aNameThatCannotBeOpenedKeepsTheEarlierFile() {
        QFETCH(QString, name);
        QFETCH(bool, vanishes);
        if (name == "fechado.txt" && QFileInfo(dir.filePath(name)).isReadable())
            QSKIP("this user reads every file");
        load(write("antes.txt", "abc\n"));
        Messages::Recorder recorder;
        Form1->Abrir1->trigger();
        if (vanishes) {
            QVERIFY(!Form4->FileListBox1->model()
                         ->match(Form4->FileListBox1->model()->index(0, 0), Qt::DisplayRole, name)
                         .isEmpty());
            QVERIFY(QFile::remove(dir.filePath(name)));
        }
        Form4->FileName->setText(name);
        Form4->BitBtn2->click();
        const QList<Entry> shown{{Form::OpenError, QString(), "Erro na abertura do arquivo"}};
        QCOMPARE(recorder.entries, shown);
        QVERIFY(Form4->isVisible());
        QVERIFY(Form1->isEnabled());
        QCOMPARE(Form1->RichEdit1->toPlainText(), QString());
        QCOMPARE(LoadedFile.FileSize, 4);
        QCOMPARE(LoadedFile.FileBuffer[3], uint8_t('\n'));
        QCOMPARE(Form1->StaticText7->text(), QStringLiteral("antes.txt"));
        QCOMPARE(Form1->StaticText3->text(), QStringLiteral("4"));
        QCOMPARE(Form1->ProgressBar1->value(), 4);
    }

    void theListsLeadToTheFile_data() {
        QTest::addColumn<bool>("doubleClick");
        QTest::newRow("Enter") << false;
        QTest::newRow("double click") << true;
    }
    void theListsLeadToTheFile() {
        QFETCH(bool, doubleClick);
        const QString folder = dir.filePath("notas");
        QVERIFY(QDir(dir.path()).mkpath("notas"));
        for (const char* name : {"a.txt", "NOTA.TXT", "c.dat"})
            write(QStringLiteral("notas/") + name, "x");
        Messages::Recorder recorder;
        // Media taken out since the dialog last opened leave the drive list.
        Form4->DriveComboBox1->insertItem(0, QStringLiteral("/media/retirado"));
        Form1->Abrir1->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(Form4));
        QCOMPARE(Form4->DriveComboBox1->findText(QStringLiteral("/media/retirado")), -1);
        QVERIFY(Form4->Directory().startsWith(Form4->DriveComboBox1->currentText()));
        auto* tree = Form4->DirectoryListBox1;
        const QModelIndex notas = static_cast<QFileSystemModel*>(tree->model())->index(folder);
        tree->setCurrentIndex(notas);
        tree->setFocus();
        if (doubleClick) {
            tree->scrollTo(notas);
            QTRY_VERIFY(tree->visualRect(notas).isValid());
            const QPoint at = tree->visualRect(notas).center();
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
        } else {
            QTest::keyClick(tree, Qt::Key_Return); // opens the directory, does not press OK
        }
        QCOMPARE(Form4->Directory(), folder);
        QVERIFY(tree->isExpanded(notas));
        QVERIFY(Form4->isVisible());
        QVERIFY(recorder.entries.isEmpty());
        QAbstractItemModel* files = Form4->FileListBox1->model();
        QCOMPARE(files->rowCount(), 2);
        QCOMPARE(Form4->FileName->text(), QStringLiteral("*.txt"));

        const QModelIndex a = files->match(files->index(0, 0), Qt::DisplayRole, "a.txt")[0];
        Form4->FileListBox1->setCurrentIndex(a);
        QCOMPARE(Form4->FileName->text(), QStringLiteral("a.txt"));
        QCOMPARE(Form4->FileName->selectedText(), QStringLiteral("a.txt"));
        const QPoint at = Form4->FileListBox1->visualRect(a).center();
        // A double click is a click, then the second press.
        QTest::mouseClick(Form4->FileListBox1->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(Form4->FileListBox1->viewport(), Qt::LeftButton, {}, at);
        QVERIFY(!Form4->isVisible());
        QCOMPARE(Form1->StaticText7->text(), QStringLiteral("a.txt"));
    }

    void sendsTheFileExactly_data() {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("busyHeld"); // with "Verifica Busy" unchecked
        const QByteArray controls("Linha 1\r\n\x0c\0\0a\xe7\xe3o\n\r\x0c", 17);
        for (const char* interface : {"serial", "parallel"}) {
            QTest::addRow("%s, 85 bytes", interface) << QString(interface) << receipt(85) << false;
            QTest::addRow("%s, 20000 bytes", interface)
                << QString(interface) << receipt(MaxSendSize) << false;
            QTest::addRow("%s, control bytes", interface)
                << QString(interface) << controls << false;
        }
        QTest::newRow("parallel, busy ignored") << "parallel" << receipt(85) << true;
    }
    void sendsTheFileExactly() {
        QFETCH(QString, interface);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, busyHeld);
        connectTo(interface);
        load(write("recibo.txt", bytes));
        if (busyHeld) {
            Form9->CheckBox1->setChecked(false);
            LinkState.PrinterBusy = true;
            link->holdBusy = true;
        }
        Messages::Recorder recorder;
        Form1->BitBtn3->click();
        QVERIFY(recorder.entries.isEmpty());
        QCOMPARE(farEnd->received, bytes);
        if (interface == "serial") {
            QList<int> blocks(bytes.size() / ChunkSize, ChunkSize);
            if (bytes.size() % ChunkSize)
                blocks << bytes.size() % ChunkSize;
            QCOMPARE(link->blocks, blocks);
            QCOMPARE(link->blocksBeforeTxEmpty, 0);
        }
        QCOMPARE(link->sent(), bytes.size());
        QCOMPARE(link->shownWhileSending, QSet<QString>{"Cancelar LED"});
        verifyIdle();
    }

    // Over rfc2217:// to tellumo-printer: the CTS lamp follows the printer's
    // panel, and the sample sent with "Enviar" prints whole.
    void aPrinterBehindAnRfc2217ServerFollowsItsPanelAndPrintsTheSample() {
        const NetworkPrinter printer(dir.path());
        PortMap::map(QStringLiteral("COM2"), printer.url());
        connectTo("serial", false);
        QVERIFY(Form3->ComPort1->Connected());
        QCOMPARE(Form1->ComLed1->State(), lsOn);
        for (const bool offline : {true, false}) {
            QCOMPARE(printer.ask(offline ? "offline on" : "offline off"), QByteArray("ok"));
            QTRY_COMPARE_WITH_TIMEOUT(Form1->ComLed1->State(), offline ? lsOff : lsOn, 1000);
        }

        QFile sample(QStringLiteral(TELLUMO_SOURCE "/docs/samples/fita-20000-bytes.txt"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        const QByteArray bytes = sample.readAll();
        load(write("fita.txt", bytes));
        Messages::Recorder recorder;
        Form1->BitBtn3->click();
        QVERIFY(recorder.entries.isEmpty());
        QCOMPARE(link->sent(), bytes.size());
        VirtualPrinter here;
        here.setLinesPerSecond(0);
        here.receive(bytes);
        here.advance(24 * 3600 * 1000);
        QTRY_COMPARE_WITH_TIMEOUT(printer.paper(), paperText(here.paper().lines()), 10000);
    }

    // A network printer that stops reading in the middle of the sample for
    // a minute, far longer than a lost line's 15 s, is busy, not lost: no
    // box, and once it reads again the sample arrives whole, once, in order.
    // A raw printer's window closes: the CTS lamp goes off and "Cancelar"
    // stays. Through ser2net to a terminal whose reader pauses, the server's
    // and the terminal's buffers hold more than the sample, so the send
    // ends meanwhile and the line stays up.
    void aBusyNetworkPrinterHoldsTheSendAndGetsEveryByteOnce_data() {
        QTest::addColumn<bool>("viaSer2net");
        QTest::newRow("raw TCP printer, its window closed") << false;
        QTest::newRow("ser2net, its terminal's reader paused") << true;
    }
    void aBusyNetworkPrinterHoldsTheSendAndGetsEveryByteOnce() {
        QFETCH(bool, viaSer2net);
        if (viaSer2net && !Ser2net::installed())
            QSKIP("ser2net is not installed (scripts/test installs it)");
        QFile sample(QStringLiteral(TELLUMO_SOURCE "/docs/samples/fita-20000-bytes.txt"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        const QByteArray bytes = sample.readAll();
        LoopbackPeer peer;
        Pty terminal;
        Ser2net server(terminal.slavePath);
        QVERIFY(!viaSer2net || server.start());
        PortMap::map(QStringLiteral("COM2"), viaSer2net ? server.url(false) : peer.url(false));
        const auto read = [&](int ms) {
            if (!viaSer2net)
                return peer.read(ms);
            pollfd p{terminal.master, POLLIN, 0};
            ::poll(&p, 1, ms);
            return terminal.drain();
        };
        QByteArray received;
        std::atomic<bool> paused{false}, finished{false};
        std::thread printer([&] {
            if (!viaSer2net)
                peer.accept();
            QElapsedTimer clock;
            clock.start();
            while (received.size() < 6000 && clock.elapsed() < 30000)
                received += read(50);
            paused = true;
            QThread::sleep(60);
            paused = false;
            while (received.size() < bytes.size() + 3 && clock.elapsed() < 150000)
                received += read(50);
            finished = true;
        });
        auto joined = qScopeGuard([&] { printer.join(); });
        connectTo("serial", false);
        QVERIFY(Form3->ComPort1->Connected());
        load(write("fita.txt", bytes));
        QSet<QString> whilePaused;
        QTimer look;
        connect(&look, &QTimer::timeout, [&] {
            if (paused)
                whilePaused << Form1->BitBtn3->text() + (Form1->ComLed1->State() == lsOn
                                                             ? QStringLiteral(" CTS on")
                                                             : QStringLiteral(" CTS off"));
        });
        look.start(200);
        Messages::Recorder recorder;
        Form1->BitBtn3->click();
        QTRY_VERIFY_WITH_TIMEOUT(finished, 150000);
        look.stop();
        QVERIFY(recorder.entries.isEmpty());
        if (!viaSer2net) {
            QVERIFY(whilePaused.contains(QStringLiteral("Cancelar CTS off")));
            for (const QString& seen : whilePaused)
                QVERIFY2(seen.startsWith(QStringLiteral("Cancelar")), qPrintable(seen));
        }
        joined.dismiss();
        printer.join();
        // The model probe the connect sent (ESC I n) came first.
        QVERIFY(received.startsWith("\x1bI"));
        QCOMPARE(received.size(), bytes.size() + 3);
        QCOMPARE(received.mid(3), bytes);
        QVERIFY(Form3->ComPort1->Connected());
    }

    void refusalsSendNothing_data() {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<qint64>("size"); // -1: no file loaded
        QTest::addColumn<QString>("printer");
        QTest::addColumn<QString>("via");
        QTest::addColumn<QList<Entry>>("shown");
        const auto warning = [](const char* text) {
            return QList<Entry>{{Form::Warning, "ATENÇÃO", text}};
        };
        const auto plain = [](const QString& text) {
            return QList<Entry>{{Form::Plain, "Tellumo", text}};
        };
        QTest::newRow("no interface, no file")
            << "none" << -1LL << "ready"
            << "button" << warning("Selecione Uma interface de comunicação (Serial ou Paralela)");
        QTest::newRow("no interface, menu")
            << "none" << 85LL << "ready"
            << "menu" << warning("Selecione Uma interface de comunicação( Serial ou Paralela)");
        QTest::newRow("serial, off-line") << "serial" << 85LL << "off-line"
                                          << "button" << plain("Impressora fora de linha");
        QTest::newRow("parallel, off-line") << "parallel" << 85LL << "off-line"
                                            << "menu" << plain("Impressora sem papel ou OFF-Line");
        QTest::newRow("parallel, busy") << "parallel" << 85LL << "busy"
                                        << "button" << plain("Impressora sem papel ou OFF-Line");
        QTest::newRow("serial, no file") << "serial" << -1LL << "ready"
                                         << "button" << plain(" Nenhum arquivo selecionado !! ");
        QTest::newRow("serial, 20001 bytes") << "serial" << 20001LL << "ready"
                                             << "button" << plain(TooBig);
        QTest::newRow("parallel, 20001 bytes") << "parallel" << 20001LL << "ready"
                                               << "button" << plain(TooBig);
        QTest::newRow("serial, 3 GiB") << "serial" << (3LL << 30) << "ready"
                                       << "menu" << plain(TooBig);
        QTest::newRow("serial, empty file") << "serial" << 0LL << "ready"
                                            << "button" << QList<Entry>();
    }
    void refusalsSendNothing() {
        QFETCH(QString, interface);
        QFETCH(qint64, size);
        QFETCH(QString, printer);
        QFETCH(QString, via);
        QFETCH(QList<Entry>, shown);
        farEnd->printer.setOffline(printer == "off-line");
        link->holdBusy = printer == "busy";
        connectTo(interface);
        if (size >= 0) {
            QFile file(dir.filePath(write("recibo.txt", receipt(std::min<qint64>(size, 30000)))));
            QVERIFY(file.resize(size)); // sparse beyond what is written
            load("recibo.txt");
            QCOMPARE(Form1->StaticText3->text(), QString::number(size));
        }
        Messages::Recorder recorder;
        if (via == "menu")
            Form1->Enviar1->trigger();
        else
            Form1->BitBtn3->click();
        QCOMPARE(recorder.entries, shown);
        QVERIFY(farEnd->received.isEmpty());
        QCOMPARE(link->sent(), 0);
        verifyIdle();
    }

    void aWaitingSendEndsAsTheOperatorAsks_data() {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("then"); // what the printer gets after the first block
        struct Row {
            const char* name;
            const char* interface;
            const char* action;
            QByteArray then;
        };
        const Row rows[] = {
            {"serial, Cancelar", "serial", "button", {}},
            {"serial, Alt+E", "serial", "Alt+E", {}},
            {"parallel, Cancelar", "parallel", "button", {}},
            {"serial, disconnected", "serial", "disconnect", {}},
            {"parallel, disconnected", "parallel", "disconnect", {}},
            {"parallel, switched to serial", "parallel", "switch", "\x1bI1"}, // the model request
            {"serial, another file loaded", "serial", "load", receipt(85).mid(ChunkSize)},
            {"serial, program end asked", "serial", "quit", receipt(85).mid(ChunkSize)},
        };
        for (const Row& row : rows)
            QTest::newRow(row.name) << QString(row.interface) << QString(row.action) << row.then;
    }
    void aWaitingSendEndsAsTheOperatorAsks() {
        QFETCH(QString, interface);
        QFETCH(QString, action);
        QFETCH(QByteArray, then);
        connectTo(interface, false);
        const QByteArray bytes = receipt(85);
        load(write("recibo.txt", bytes));
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        stallAfterFirstBytes();
        QTimer act;
        act.setInterval(5);
        connect(&act, &QTimer::timeout, this, [&] {
            const bool waiting =
                interface == "serial" ? !LinkState.CtsActive : LinkState.PrinterBusy;
            if (!waiting)
                return;
            act.stop();
            if (action == "button") {
                Form1->BitBtn3->click();
            } else if (action == "Alt+E") {
                QTest::keyClick(Form1, Qt::Key_E, Qt::AltModifier);
            } else if (action == "disconnect") {
                (interface == "serial" ? Form3->BitBtn2 : Form9->BitBtn1)->click();
            } else if (action == "switch") {
                Form9->BitBtn1->click();
                farEnd->printer.setOffline(false);
                Form3->BitBtn2->click();
            } else if (action == "load") {
                load(write("outro.txt", QByteArray(85, '#')));
                farEnd->printer.setOffline(false);
            } else {
                Form1->Sair1->trigger();
                QCOMPARE(quits, 0); // the program ends once the send has returned
                farEnd->printer.setOffline(false);
            }
        });
        act.start();
        Messages::Recorder recorder;
        Form1->BitBtn3->click();
        QVERIFY(recorder.entries.isEmpty());
        QCOMPARE(farEnd->received, bytes.left(ChunkSize) + then);
        QCOMPARE(link->strobed, interface == "parallel" ? ChunkSize : 0);
        QCOMPARE(quits, action == "quit" ? 1 : 0);
        verifyIdle();
    }

    // The write time-out expires while CTS holds the line: what did not leave
    // goes out when the printer is ready again.
    void aShortWriteLosesNoByte() {
        connectTo("serial", false);
        Form3->ComPort1->FlowControl().SetOutCTSFlow(true);
        Form3->ComPort1->Timeouts().SetWriteTotalMultiplier(0);
        Form3->ComPort1->Timeouts().SetWriteTotalConstant(100);
        const QByteArray bytes = receipt(85);
        load(write("recibo.txt", bytes));
        stallAfterFirstBytes();
        QTimer::singleShot(300, &farEnd->printer, [this] { farEnd->printer.setOffline(false); });
        Messages::Recorder recorder;
        Form1->BitBtn3->click();
        QVERIFY(recorder.entries.isEmpty());
        QCOMPARE(farEnd->received, bytes);
        // The first block left short: the rest of it went alone, then the blocks went on.
        QCOMPARE(link->blocks.size(), 4);
        QVERIFY(link->blocks[1] < ChunkSize);
        QCOMPARE(link->blocks.mid(2), (QList<int>{ChunkSize, 5}));
        verifyIdle();
    }

    void aFailingWriteEndsTheSendAndShowsItOnce() {
        connectTo("serial");
        const QByteArray bytes = receipt(85);
        load(write("recibo.txt", bytes));
        const std::shared_ptr<VirtualLine> line = farEnd->links.serialLine("COM2");
        onFirstBytes([line] { line->failWrites(WinError::GenFailure); });
        Messages::Recorder recorder;
        Form1->BitBtn3->click();
        QCOMPARE(recorder.entries.size(), 1);
        QCOMPARE(recorder.entries[0].form, Form::Exception);
        QCOMPARE(farEnd->received, bytes.left(ChunkSize));
        verifyIdle();

        line->failWrites(0); // the next send starts again at byte 0
        Form1->BitBtn3->click();
        QCOMPARE(recorder.entries.size(), 1);
        QCOMPARE(farEnd->received, bytes.left(ChunkSize) + bytes);
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    createForms();
    wireLinkDevices();
    FileSendTest test;
    const int result = QTest::qExec(&test, argc, argv);
    unwireLinkDevices();
    destroyForms();
    return result;
}

#include "tst_filesend.moc"
