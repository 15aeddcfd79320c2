// "Configuração da Serial" end to end: the real window and handlers, ComPort1
// on a virtual line, the virtual printer (or a stand-in) at the far end.
#include "app/Application.h"
#include "app/Form1.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "comport/Pty.h"
#include "comport/Raised.h"
#include "comport/Ser2net.h"
#include "connection/Disconnect.h"
#include "connection/FarEnd.h"
#include "connection/Form3.h"
#include "connection/SerialReconnect.h"
#include "link/ComPortAccess.h"
#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/comport/ComLed.h"
#include "link/comport/ComPort.h"
#include "sim/serve/PtyServer.h"
#include "windowkit/FormBase.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <QDir>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

using Entry = Messages::Recorder::Entry;
using Form = Messages::Form;

const QString Padrao =
    QStringLiteral("A impressora não está conectada.Utilizando Impressora PADRAO");
const QString OpenError =
    QStringLiteral("Erro ao Conectar na Serial - Outro aplicativo já está utilizando esta porta");

QStringList panelTexts() {
    QStringList texts;
    for (QLabel* panel : Form3->Panels)
        texts << panel->text();
    return texts;
}

int entries(const char* folder) {
    return int(
        QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

// Loopback servers that fail a connect in each way a network can: none
// listening (refused); a full backlog, so the handshake is never answered
// (silent); listening but never accepting, so no telnet comes (quiet); and
// a device server that answers every rate with another.
struct FailingServers {
    int listener(int backlog) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, backlog);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
        fds << fd;
        ports << ntohs(a.sin_port);
        return fd;
    }
    FailingServers() {
        ports << Ser2net::freePort();
        // The one connection a backlog of 0 lets in takes the place.
        const int silent = listener(0);
        fds << socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        socklen_t length = sizeof a;
        getsockname(silent, reinterpret_cast<sockaddr*>(&a), &length);
        ::connect(fds.last(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        listener(8);
        refuser = std::make_unique<QSocketNotifier>(listener(8), QSocketNotifier::Read);
        QObject::connect(refuser.get(), &QSocketNotifier::activated, [this](QSocketDescriptor fd) {
            const int client = accept4(int(fd), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            [[maybe_unused]] const auto n =
                ::write(client, "\xff\xfd\x2c", 3); // DO COM-PORT-OPTION
            answer = std::make_unique<QSocketNotifier>(client, QSocketNotifier::Read);
            QObject::connect(answer.get(), &QSocketNotifier::activated, [this, client] {
                char got[512];
                const ssize_t r = ::read(client, got, sizeof got);
                if (r <= 0) {
                    answer->setEnabled(false);
                    answer.release()->deleteLater();
                    ::close(client);
                }
                // SET-BAUDRATE answered with 115200.
                if (r > 0 && QByteArray(got, int(r)).contains("\xff\xfa\x2c\x01")) [[maybe_unused]]
                    const auto m = ::write(client, "\xff\xfa\x2c\x65\x00\x01\xc2\x00\xff\xf0", 10);
            });
        });
    }
    ~FailingServers() {
        answer.reset();
        refuser.reset();
        for (const int fd : fds)
            ::close(fd);
    }
    // "%refused" ... in a row's device and cause: the port of that server.
    QString place(QString text) const {
        const char* names[] = {"%refused", "%silent", "%quiet", "%refusing"};
        for (int i = 0; i < 4; ++i)
            text.replace(names[i], QString::number(ports[i]));
        return text;
    }
    QList<int> fds;
    QList<quint16> ports; // refused, silent, quiet, refusing
    std::unique_ptr<QSocketNotifier> refuser, answer;
};

// What stands in COM2's way in a row: another port of this program, a
// program holding or locking the terminal, exclusive mode, or a server.
struct Obstacle {
    Pty pty;
    TComPort other;
    QProcess holder;
    FailingServers servers;
    std::unique_ptr<Ser2net> ser2net;
    int exclusive = -1;
    const QString lockFile = QStringLiteral("/run/lock/LCK..") +
                             pty.slavePath.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));

    ~Obstacle() {
        if (exclusive >= 0)
            ::close(exclusive);
        holder.kill();
        holder.waitForFinished();
        QFile::remove(lockFile);
    }
    // Maps COM2 for the row, filling in the device and the cause.
    void place(QString& device, QString& cause) {
        if (device.startsWith("held")) {
            if (device == "held pty")
                PortMap::map(QStringLiteral("COM2"), pty.slavePath);
            other.SetPort(QStringLiteral("COM2"));
            other.Open();
            QVERIFY(other.Connected());
            return;
        }
        if (device == "exclusive") {
            exclusive = ::open(pty.slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
            QCOMPARE(ioctl(exclusive, TIOCEXCL), 0);
        } else if (device.endsWith("by sleep")) {
            // A terminal program that has the port open, or has only locked it.
            if (device.startsWith("open"))
                holder.setStandardInputFile(pty.slavePath);
            holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
            QVERIFY(holder.waitForStarted());
            if (device.startsWith("locked")) {
                QFile lock(lockFile);
                QVERIFY(lock.open(QIODevice::WriteOnly));
                lock.write(QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n');
            }
            cause.replace("%pid", QString::number(holder.processId()));
        } else if (device == "ser2net") {
            if (!Ser2net::installed())
                QSKIP("ser2net is not installed (scripts/test installs it)");
            ser2net = std::make_unique<Ser2net>(QStringLiteral("/nonexistent/ttyUSB9"));
            QVERIFY(ser2net->start());
            device = ser2net->url(true);
            cause.replace("%ser2net", QString::number(ser2net->rfc2217Port));
            cause.replace("%dev", device);
            PortMap::map(QStringLiteral("COM2"), device);
            return;
        } else {
            device = servers.place(device);
            cause = servers.place(cause.replace("%dev", device));
            PortMap::map(QStringLiteral("COM2"), device);
            return;
        }
        PortMap::map(QStringLiteral("COM2"), pty.slavePath);
        cause.replace("%dev", pty.slavePath);
    }
};

} // namespace

class SerialConnectionTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FarEnd> farEnd;
    QTemporaryDir settingsFolder;

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
        scaleDownReadTimeouts(*Form3->ComPort1);
        // What the first name lookup and the first wait cursor open for good
        // is not what a failed connect leaves open.
        PortMap::map(QStringLiteral("COM9"), QStringLiteral("tcp://printer.invalid:1"));
        TComPort first;
        first.SetPort(QStringLiteral("COM9"));
        QCOMPARE(raisedCode([&] { first.Open(); }), 1);
        const WaitCursor wait;
    }

    void init() {
        LinkState = TLinkState{};
        farEnd = std::make_unique<FarEnd>();
    }

    void cleanup() {
        disconnectBoth();
        Form3->RadioGroup2->SetItemIndex(1);
        Form3->hide();
        farEnd.reset();
        LinkState = TLinkState{};
    }

    void opensWithTheLayoutAndTextsOfAClosedPort() {
        const TRadioGroup* groups[] = {Form3->RadioGroup1, Form3->RadioGroup2, Form3->RadioGroup3,
                                       Form3->RadioGroup4};
        QStringList shown;
        for (const TRadioGroup* group : groups)
            shown << group->Item(group->ItemIndex())->text();
        QCOMPARE(shown, (QStringList{"9600", "COM2", "1", "Nenhuma"}));
        QVERIFY(Form3->RadioGroup2->isEnabled());
        for (TRadioGroup* fixed : {Form3->RadioGroup1, Form3->RadioGroup3, Form3->RadioGroup4})
            QVERIFY(!fixed->isEnabled());
        QCOMPARE(panelTexts(),
                 (QStringList{"Porta:", "Baud Rate:", "Stop Bits:", "Paridade:", "Status:"}));
        const int widths[] = {70, 95, 70, 100};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(Form3->Panels[i]->width(), widths[i]);

        // Everything inside the client area, nothing cut off.
        Form3->showForm();
        QVERIFY(QTest::qWaitForWindowExposed(Form3));
        for (QWidget* control : std::initializer_list<QWidget*>{
                 Form3->RadioGroup1, Form3->RadioGroup2, Form3->RadioGroup3, Form3->RadioGroup4,
                 Form3->BitBtn2, Form3->BitBtn1, Form3->StatusBar1})
            QVERIFY2(Form3->rect().contains(control->geometry()),
                     qPrintable(control->objectName()));
        Form3->Panels[4]->setText(QStringLiteral("Status: Inativa"));
        QVERIFY(Form3->Panels[4]->width() >= Form3->Panels[4]->sizeHint().width());
        Form3->Panels[4]->setText(QStringLiteral("Status:"));
    }

    void connectOpensThePickedPortAndDisconnectRestores_data() {
        QTest::addColumn<int>("pick"); // -1: the dialog untouched
        QTest::addColumn<QString>("port");
        QTest::newRow("untouched") << -1 << "COM2";
        QTest::newRow("COM4 picked") << 3 << "COM4";
    }
    void connectOpensThePickedPortAndDisconnectRestores() {
        QFETCH(int, pick);
        QFETCH(QString, port);
        Messages::Recorder recorder;
        if (pick >= 0)
            Form3->RadioGroup2->Item(pick)->click();

        Form3->BitBtn2->click();
        QVERIFY(Form3->ComPort1->Connected());
        QCOMPARE(Form3->ComPort1->Port(), port);
        QVERIFY(farEnd->links.serialLine(port)->isOpen());
        QCOMPARE(panelTexts(), (QStringList{"Porta:" + port, "Baud Rate:9600", "Stop Bits:1",
                                            "Paridade:Nenhuma", "Status: Ativa"}));
        QCOMPARE(Form3->BitBtn2->text(), QStringLiteral("&Desconectar"));
        QVERIFY(!Form3->RadioGroup2->isEnabled());
        QVERIFY(!Form1->Paralela1->isEnabled());
        QVERIFY(LinkState.SerialConnected);
        QVERIFY(LinkState.CtsActive);
        QVERIFY(recorder.entries.isEmpty());

        Form3->BitBtn2->click();
        QVERIFY(!Form3->ComPort1->Connected());
        QCOMPARE(Form3->Panels[4]->text(), QStringLiteral("Status: Inativa"));
        QCOMPARE(Form3->BitBtn2->text(), QStringLiteral("&Conectar"));
        QVERIFY(Form3->RadioGroup2->isEnabled());
        QVERIFY(Form1->Paralela1->isEnabled());
        QVERIFY(!LinkState.SerialConnected);
        QVERIFY(!LinkState.CtsActive);
        QVERIFY(!LinkState.TxPending);
        QVERIFY(recorder.entries.isEmpty());
    }

    void modelProbeSetsTheDialect_data() {
        QTest::addColumn<QString>("farEndKind");
        QTest::addColumn<QByteArray>("reply"); // for the stand-in printer
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("compatible model")
            << "compatible" << QByteArray() << false << true << QStringList{};
        QTest::newRow("Korvexa Dual") << "dual" << QByteArray() << true << false << QStringList{};
        QTest::newRow("no answer keeps true")
            << "stand-in" << QByteArray() << true << true << QStringList{};
        QTest::newRow("no answer keeps false")
            << "stand-in" << QByteArray() << false << false << QStringList{};
        QTest::newRow("short answer keeps the mode")
            << "stand-in" << QByteArray("\x06Korvex BM  40/4") << false << false << QStringList{};
        QTest::newRow("name cut short by a zero")
            << "stand-in" << QByteArray("\x06Korvex BM\0 40/48", 17) << true << false
            << QStringList{};
        QTest::newRow("CTS off") << "offline" << QByteArray() << true << false
                                 << QStringList{Padrao};
    }
    void modelProbeSetsTheDialect() {
        QFETCH(QString, farEndKind);
        QFETCH(QByteArray, reply);
        QFETCH(bool, before);
        QFETCH(bool, after);
        QFETCH(QStringList, shown);
        if (farEndKind == "compatible")
            farEnd->printer.setModel(PrinterModel::Compatible);
        else if (farEndKind == "offline")
            farEnd->printer.setOffline(true);
        else if (farEndKind == "stand-in")
            farEnd->script(reply);
        LinkState.CompatibleMode = before;
        Messages::Recorder recorder;

        Form3->BitBtn2->click();
        QVERIFY(Form3->ComPort1->Connected());
        QCOMPARE(LinkState.CompatibleMode, after);
        QCOMPARE(recorder.texts(), shown);
        for (const Entry& entry : recorder.entries)
            QCOMPARE(entry.form, Form::Plain);
        // Only a ready printer is asked.
        QCOMPARE(farEnd->received, farEndKind == "offline" ? QByteArray() : QByteArray("\x1bI1"));

        // Disconnecting leaves the dialect alone.
        Form3->BitBtn2->click();
        QCOMPARE(LinkState.CompatibleMode, after);
        QCOMPARE(recorder.texts(), shown);
    }

    // A late reply from an earlier request must not be taken for the model.
    void staleBytesBeforeTheProbeAreDiscarded() {
        const auto line = farEnd->script(QByteArray("\x06Korvex BM  40/48"));
        line->send(QByteArray("\x06PLF110VN"));
        Form3->BitBtn2->click();
        QVERIFY(LinkState.CompatibleMode);
    }

    void theProbedDialectPicksTheStatusRequest_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("compatible") << int(PrinterModel::Compatible) << QByteArray("\x1bV");
        QTest::newRow("Korvexa Dual") << int(PrinterModel::KorvexaDual) << QByteArray("\x1bv");
    }
    void theProbedDialectPicksTheStatusRequest() {
        QFETCH(int, model);
        QFETCH(QByteArray, request);
        farEnd->printer.setModel(static_cast<PrinterModel>(model));
        Form3->BitBtn2->click();
        farEnd->received.clear();
        Messages::Recorder recorder;
        Form1->BitBtn2->click();
        QCOMPARE(farEnd->received, request);
        QCOMPARE(recorder.entries, (QList<Entry>{{Form::Plain, "Tellumo", "PLF110VN"}}));
    }

    // The box's second line names the device and what is wrong with it,
    // unless another program simply holds it.
    void aPortThatCannotBeOpenedLeavesEverythingDisconnected_data() {
        QTest::addColumn<QString>("device"); // "held": another port has COM2 open
        QTest::addColumn<QString>("cause");
        const QString file = QCoreApplication::applicationFilePath();
        QTest::newRow("held by another opener") << "held"
                                                << "";
        QTest::newRow("pseudo-terminal held by another opener") << "held pty"
                                                                << "";
        QTest::newRow("missing device") << "/nonexistent/ttyS1"
                                        << "/nonexistent/ttyS1: dispositivo não encontrado";
        QTest::newRow("a device, not a terminal") << "/dev/null"
                                                  << "/dev/null: não é um terminal serial";
        QTest::newRow("a file") << file << file + ": não é um terminal serial";
        QTest::newRow("pseudo-terminal another program has open")
            << "open by sleep"
            << "%dev: em uso por sleep (pid %pid)";
        QTest::newRow("pseudo-terminal locked by another program")
            << "locked by sleep"
            << "%dev: em uso por sleep (pid %pid)";
        // Exclusive mode set by a holder the kernel does not name.
        QTest::newRow("pseudo-terminal held exclusively") << "exclusive"
                                                          << "%dev: em uso por outro programa";
        // A network line: the window stays live while it is reached.
        QTest::newRow("malformed address")
            << "tcp://printer"
            << "tcp://printer: endereço inválido: escreva tcp://HOST:PORTA ou rfc2217://HOST:PORTA";
        QTest::newRow("unknown host")
            << "tcp://printer.invalid:9100"
            << "tcp://printer.invalid:9100: o nome printer.invalid não foi encontrado";
        QTest::newRow("refused port") << "tcp://127.0.0.1:%refused"
                                      << "%dev: conexão recusada por 127.0.0.1:%refused";
        QTest::newRow("refused port, IPv6") << "rfc2217://[::1]:%refused"
                                            << "%dev: conexão recusada por [::1]:%refused";
        QTest::newRow("silent host") << "tcp://127.0.0.1:%silent"
                                     << "%dev: 127.0.0.1:%silent não respondeu em 5 s";
        QTest::newRow("not a device server")
            << "rfc2217://127.0.0.1:%quiet"
            << "%dev: 127.0.0.1:%quiet não respondeu como servidor de porta serial (RFC 2217)";
        QTest::newRow("a setting refused")
            << "rfc2217://127.0.0.1:%refusing"
            << "%dev: o servidor recusou a velocidade 9600 bit/s (respondeu 115200 bit/s)";
        // Taken with its zone; loopback has no fe80::1 to reach.
        QTest::newRow("a link-local address with its zone")
            << "tcp://[fe80::1%lo]:9100"
            << "%dev: [fe80::1%lo]:9100 inalcançável: " +
                   QString::fromLocal8Bit(strerror(ENETUNREACH));
        QTest::newRow("a link-local address without its zone")
            << "rfc2217://[fe80::1]:4000"
            << "%dev: fe80::1 é um endereço local de enlace: indique a interface de rede, como "
               "[fe80::1%eth0]";
        // Debian's ser2net, its serial device missing, in its own words.
        QTest::newRow("ser2net that cannot open its device")
            << "ser2net"
            << "%dev: o servidor 127.0.0.1:%ser2net não conseguiu abrir a sua porta "
               "serial e disse: \"Device open failure: Value or file not found\"";
    }
    void aPortThatCannotBeOpenedLeavesEverythingDisconnected() {
        QFETCH(QString, device);
        QFETCH(QString, cause);
        Obstacle obstacle;
        obstacle.place(device, cause);
        if (QTest::currentTestFailed())
            return;
        LinkState.CompatibleMode = true;
        Messages::Recorder recorder;
        const int descriptors = entries("/proc/self/fd");
        const int threads = entries("/proc/self/task");
        int ticks = 0;
        bool pressed = false;
        QTimer repaint;
        connect(&repaint, &QTimer::timeout, [&] {
            ++ticks;
            // "Status" pressed while a server is reached is told to wait.
            if (!pressed && Form3->ComPort1->Opening()) {
                pressed = true;
                Form1->BitBtn2->click();
            }
        });
        repaint.start(100);
        QElapsedTimer clock;
        clock.start();

        Form3->BitBtn2->click();
        // Reaching a server takes up to 5 s, with the window live.
        if (device.contains("://"))
            QVERIFY2(ticks >= clock.elapsed() / 200, "the window froze");
        // Nothing of this open is left; a thread or descriptor an earlier
        // row's close was still ending may have gone meanwhile.
        QTRY_VERIFY(entries("/proc/self/fd") <= descriptors);
        QTRY_VERIFY(entries("/proc/self/task") <= threads);
        // A holder keeps the classic line; any other cause is told as it is.
        const QString firstLine = cause.isEmpty() || cause.contains("em uso")
                                      ? OpenError
                                      : QStringLiteral("Erro ao Conectar na Serial");
        const QString text = cause.isEmpty() ? OpenError : firstLine + "\n" + cause;
        QList<Entry> told{{Form::Warning, "ATENÇÃO", text}};
        if (pressed)
            told.prepend({Form::Plain, "Tellumo", ComPortAccess::OpeningText});
        QCOMPARE(recorder.entries, told);
        QVERIFY(!Form3->ComPort1->Connected());
        QVERIFY(!LinkState.SerialConnected);
        QVERIFY(LinkState.CompatibleMode);
        QCOMPARE(Form3->Panels[4]->text(), QStringLiteral("Status: Inativa"));
        QCOMPARE(Form3->BitBtn2->text(), QStringLiteral("&Conectar"));
        QVERIFY(Form3->RadioGroup2->isEnabled());
        QVERIFY(Form1->Paralela1->isEnabled());
        QVERIFY(farEnd->received.isEmpty());
        QCOMPARE(obstacle.pty.drain(), QByteArray());
    }

    // The operator's "Desconectar" runs inside the connect or a command's
    // write, while an LED processes events: it ends them quietly.
    void aDisconnectWhileTheLedsProcessEventsShowsNothing_data() {
        QTest::addColumn<bool>("duringConnect");
        QTest::newRow("during the connect") << true;
        QTest::newRow("during a write") << false;
    }
    void aDisconnectWhileTheLedsProcessEventsShowsNothing() {
        QFETCH(bool, duringConnect);
        Messages::Recorder recorder;
        if (!duringConnect)
            Form3->BitBtn2->click();
        QTimer::singleShot(0, Form3->BitBtn2, &QPushButton::click);
        if (duringConnect)
            Form3->BitBtn2->click();
        else
            QCOMPARE(LinkDevices.ComPort1->Write("x", 1), 0);
        QVERIFY(!Form3->ComPort1->Connected());
        QVERIFY(!LinkState.SerialConnected);
        QCOMPARE(Form3->BitBtn2->text(), QStringLiteral("&Conectar"));
        QVERIFY(recorder.entries.isEmpty());
    }

    // A pseudo-terminal behind a link stands for an adapter with its by-id
    // name: the link goes and its terminal hangs up, then a new link leads
    // to a new terminal.
    void aLostDeviceConnectsAgainWhenItComesBack_data() {
        QTest::addColumn<bool>("comesBack");
        QTest::newRow("connects again, never after Desconectar") << true;
        QTest::newRow("turned off in Portas do sistema") << false;
    }
    void aLostDeviceConnectsAgainWhenItComesBack() {
        QFETCH(bool, comesBack);
        SerialReconnect::setEnabled(comesBack);
        QTemporaryDir folder;
        const QString link = folder.filePath(QStringLiteral("usb-Korvexa_Dual-if00"));
        auto pty = std::make_unique<Pty>();
        QVERIFY(QFile::link(pty->slavePath, link));
        PortMap::map(QStringLiteral("COM2"), link);
        Messages::Recorder recorder;
        Form3->BitBtn2->click();
        QVERIFY(Form3->ComPort1->Connected());
        QFile::remove(link);
        pty.reset();
        QTRY_VERIFY(!Form3->ComPort1->Connected());
        const QString lost = QStringLiteral("A conexão com a porta serial COM2 foi perdida - "
                                            "verifique o cabo ou o adaptador");
        QCOMPARE(recorder.texts(),
                 QStringList{lost + (comesBack ? ": a conexão volta sozinha quando ele for "
                                                 "ligado de novo"
                                               : " e conecte novamente")});

        pty = std::make_unique<Pty>();
        QVERIFY(QFile::link(pty->slavePath, link));
        if (!comesBack) {
            QTest::qWait(2500);
            QVERIFY(!Form3->ComPort1->Connected());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(Form3->ComPort1->Connected(), 2000);
        QCOMPARE(Form3->Panels[4]->text(), QStringLiteral("Status: Ativa"));
        QByteArray probe;
        QTRY_COMPARE((probe += pty->drain()), QByteArray("\x1bI1"));

        Form3->BitBtn2->click();
        QFile::remove(link);
        pty = std::make_unique<Pty>();
        QVERIFY(QFile::link(pty->slavePath, link));
        QTest::qWait(2500);
        QVERIFY(!Form3->ComPort1->Connected());
        QCOMPARE(pty->drain(), QByteArray());
        QCOMPARE(recorder.entries.size(), 1);
    }

    // A server that drops every connection it takes (at once, or after a
    // while) on a tenth of the reconnect's clock: 4 s here stand for 40 s.
    void aFlappingServerIsOneOutage_data() {
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<bool>("oneOutage");
        QTest::newRow("accepts and closes at once: one box, growing pauses") << 0 << true;
        QTest::newRow("connections that lived long enough: a box each") << 1500 << false;
    }
    void aFlappingServerIsOneOutage() {
        QFETCH(int, holdMs);
        QFETCH(bool, oneOutage);
        SerialReconnect::setEnabled(true);
        SerialReconnect::setPace({100, 3000, 1000});
        const auto paceBack = qScopeGuard([] { SerialReconnect::setPace({}); });
        FailingServers servers; // its quiet listener is the flapping server
        const int listener = servers.fds[2];
        QList<qint64> accepted;
        QElapsedTimer clock;
        clock.start();
        QSocketNotifier taking(listener, QSocketNotifier::Read);
        connect(&taking, &QSocketNotifier::activated, [&] {
            const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            accepted << clock.elapsed();
            QTimer::singleShot(holdMs, [client] { ::close(client); });
        });
        PortMap::map(QStringLiteral("COM2"), servers.place("tcp://127.0.0.1:%quiet"));
        Messages::Recorder recorder;
        Form3->showForm();
        QVERIFY(QTest::qWaitForWindowExposed(Form3));
        Form3->BitBtn2->click();
        QTRY_COMPARE(Form3->Panels[4]->text(), QStringLiteral("Status: Esperando"));
        QCOMPARE_LE(Form3->Panels[4]->fontMetrics().horizontalAdvance(Form3->Panels[4]->text()),
                    Form3->Panels[4]->contentsRect().width());
        QTest::qWait(4000 - int(clock.elapsed()));
        taking.setEnabled(false);
        const qsizetype lost = accepted.size() - (Form3->ComPort1->Connected() ? 1 : 0);
        QTRY_COMPARE(recorder.entries.size(), oneOutage ? 1 : lost);
        QCOMPARE(recorder.texts().first(),
                 "A conexão com a porta serial COM2 (" + servers.place("tcp://127.0.0.1:%quiet") +
                     ") foi perdida - verifique a rede e o servidor: o Tellumo conecta de novo "
                     "sozinho quando ele responder");
        QVERIFY2(accepted.size() >= (oneOutage ? 5 : 3), qPrintable(QString::number(lost)));
        // Short-lived: each pause longer than the one before; long-lived: the
        // first pause again after each loss.
        for (qsizetype i = 2; i < accepted.size(); ++i) {
            const qint64 pause = accepted[i] - accepted[i - 1];
            if (oneOutage)
                QCOMPARE_GT(pause, accepted[i - 1] - accepted[i - 2]);
            else
                QCOMPARE_LT(pause, holdMs + 700);
        }
        Messages::Recorder quiet;
        Form3->BitBtn2->click(); // the operator's connect ends the wait
        if (Form3->ComPort1->Connected())
            Form3->BitBtn2->click();
    }

    // Debian's ser2net serving the printer's pseudo-terminal, whose modem
    // lines it reports off: the printer reads off-line, but answers. The
    // server stopped is a lost line; started again, the port comes back.
    void aPrinterBehindADeviceServerAnswersAndComesBack() {
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (scripts/test installs it)");
        SerialReconnect::setEnabled(true);
        // On a thread of its own: a query holds the GUI thread until the reply is in.
        QThread worker;
        worker.start();
        auto* context = new QObject;
        context->moveToThread(&worker);
        std::unique_ptr<VirtualPrinter> printer;
        std::unique_ptr<PtyServer> terminal;
        const auto onWorker = [context](const std::function<void()>& work) {
            QMetaObject::invokeMethod(context, work, Qt::BlockingQueuedConnection);
        };
        QString error;
        onWorker([&] {
            printer = std::make_unique<VirtualPrinter>(PrinterModel::KorvexaDual);
            terminal = std::make_unique<PtyServer>(printer.get());
            terminal->open(&error);
        });
        const auto stopWorker = qScopeGuard([&] {
            onWorker([&] {
                terminal.reset();
                printer.reset();
                delete context;
            });
            worker.quit();
            worker.wait();
        });
        QVERIFY2(error.isEmpty(), qPrintable(error));
        Ser2net server(terminal->path());
        QVERIFY(server.start());
        PortMap::map(QStringLiteral("COM2"), server.url(true));
        Messages::Recorder recorder;
        Form3->BitBtn2->click();
        QVERIFY(Form3->ComPort1->Connected());
        QVERIFY(!LinkState.CtsActive);
        Form1->BitBtn2->click();
        QCOMPARE(recorder.entries, (QList<Entry>{{Form::Plain, "Tellumo", Padrao},
                                                 {Form::Plain, "Tellumo", "PLF110VN"}}));
        recorder.entries.clear();

        server.stop();
        QTRY_VERIFY(!Form3->ComPort1->Connected());
        QCOMPARE(recorder.texts(),
                 QStringList{"A conexão com a porta serial COM2 (" + server.url(true) +
                             ") foi perdida - verifique a rede e o servidor: o Tellumo conecta de "
                             "novo sozinho quando ele responder"});
        QVERIFY(server.start());
        QTRY_VERIFY_WITH_TIMEOUT(Form3->ComPort1->Connected(), 5000);
        QCOMPARE(Form3->Panels[4]->text(), QStringLiteral("Status: Ativa"));
        QCOMPARE(recorder.entries.size(), 2); // the probe's off-line message again
    }

    void theLineEventsKeepTheLinkStateCurrent() {
        Form3->BitBtn2->click();
        QVERIFY(LinkState.CtsActive);

        // CTS off clears TxPending too, whatever the line's own report.
        LinkState.TxPending = true;
        farEnd->printer.setOffline(true);
        QTRY_VERIFY(!LinkState.CtsActive);
        QVERIFY(!LinkState.TxPending);
        QCOMPARE(Form1->ComLed1->State(), lsOff);
        farEnd->printer.setOffline(false);
        QTRY_VERIFY(LinkState.CtsActive);

        // The transmitter running empty ends a pending block.
        LinkState.TxPending = true;
        const QByteArray text("abc\n");
        LinkDevices.ComPort1->Write(text.constData(), static_cast<int>(text.size()));
        QTRY_VERIFY(!LinkState.TxPending);

        // So does a line error.
        LinkState.TxPending = true;
        farEnd->links.serialLine(QStringLiteral("COM2"))->raiseErrors(TComErrors{ceFrame});
        QTRY_VERIFY(!LinkState.TxPending);
    }

    void closeEnablesTheMainWindowAndKeepsTheConnection_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Fechar") << false;
        QTest::newRow("Esc") << true;
    }
    void closeEnablesTheMainWindowAndKeepsTheConnection() {
        QFETCH(bool, escape);
        Form3->showForm();
        QVERIFY(QTest::qWaitForWindowExposed(Form3));
        Form3->BitBtn2->click();
        Form1->setEnabled(false);
        if (escape)
            QTest::keyClick(Form3, Qt::Key_Escape);
        else
            Form3->BitBtn1->click();
        QVERIFY(!Form3->isVisible());
        QVERIFY(Form1->isEnabled());
        QVERIFY(Form3->ComPort1->Connected());
        QVERIFY(LinkState.SerialConnected);
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    createForms();
    wireLinkDevices();
    SerialConnectionTest test;
    const int result = QTest::qExec(&test, argc, argv);
    unwireLinkDevices();
    destroyForms();
    return result;
}

#include "tst_serialconnection.moc"
