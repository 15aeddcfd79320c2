// What the operator sees, and what holds afterwards, when the world around
// the program misbehaves: the USB adapter pulled out, the printer stalling,
// going off-line or out of paper, replies that are missing, short, long, late
// or unasked for, and other windows used while a file is sent. One table
// through the real windows and handlers, with ComPort1 on a virtual line and
// PortIO1 on a virtual parallel port, the virtual printer (or a stand-in
// answering queries) at the far end.
#include "app/Application.h"
#include "app/FileSend.h"
#include "app/Form1.h"
#include "app/Form4.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "app/LoadedFile.h"
#include "commands/Form15.h"
#include "connection/Disconnect.h"
#include "connection/FarEnd.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "link/comport/ComLed.h"
#include "protocol/Windows1252.h"
#include "windowkit/Messages.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace Messages {
// How QCOMPARE prints a message that differs.
char* toString(const Recorder::Entry& entry) {
    return QTest::toString(
        QStringLiteral("%1 %2: %3").arg(int(entry.form)).arg(entry.title, entry.text));
}
} // namespace Messages

namespace {

using Entry = Messages::Recorder::Entry;
using Form = Messages::Form;

const QByteArray StatusRequest("\x1bv");
const QByteArray GoodStatus("\x06PLF110VN");

Entry plain(const QString& text) {
    return {Form::Plain, Messages::applicationTitle(), text};
}
const Entry LineLost{Form::Warning, Messages::warningTitle(),
                     QStringLiteral("A conexão com a porta serial COM2 foi perdida - verifique o "
                                    "cabo ou o adaptador e conecte novamente")};
const Entry StatusError = plain(QStringLiteral(" Erro na Leitura do Status"));
const Entry ModelError = plain(QStringLiteral(" Erro na Leitura do modelo da impressora"));
const Entry NoPaper = plain(QStringLiteral("Impressora sem papel ou OFF-Line"));
const Entry SerialOnly = plain(QStringLiteral(
    " A porta serial não está selecionada - Este comando não está disponível na Paralela"));

QByteArray modelReply() {
    return "\x06" + VirtualPrinter::DualModelName;
}

QByteArray receipt(int size) {
    QByteArray bytes;
    for (int line = 1; bytes.size() < size; ++line)
        bytes += QByteArray("Item ") + QByteArray::number(line) + " Caf\xe9 1,50\r\n";
    return bytes.left(size);
}

// Slow makes a block take long enough on the line to be cut in the middle.
enum class Speed { Normal, Slow, Fast };

// The windows, the far end and what a row does with them.
class Bench {
public:
    explicit Bench(const QString& folder) : folder_(folder) {
        QObject::connect(&far.printer, &VirtualPrinter::logged, &far.context,
                         [this](const PrinterLogEntry& entry) {
                             if (entry.kind == PrinterLogEntry::Kind::Received && arrival_)
                                 std::exchange(arrival_, {})();
                         });
        QObject::connect(&waiting_, &QTimer::timeout, &far.context, [this] {
            const bool waits =
                LinkState.SerialConnected ? !LinkState.CtsActive : LinkState.PrinterBusy;
            if (waits && Form1->BitBtn3->text() == QLatin1String("Cancelar"))
                std::exchange(whenWaiting_, {})();
            if (!whenWaiting_)
                waiting_.stop();
        });
        waiting_.setInterval(5);
    }

    FarEnd far;
    const QByteArray file = receipt(5 * ChunkSize);

    std::shared_ptr<VirtualLine> line() { return far.links.serialLine(QStringLiteral("COM2")); }

    // Connects as the operator does, then sets the line's speed.
    void connectSerial(Speed speed = Speed::Normal) {
        Messages::Recorder quiet;
        Form3->BitBtn2->click();
        if (speed == Speed::Slow) {
            Form3->ComPort1->SetBaudRate(br1200);
        } else if (speed == Speed::Fast) {
            Form3->ComPort1->SetCustomBaudRate(1'000'000);
            Form3->ComPort1->SetBaudRate(brCustom);
        }
        far.received.clear();
    }
    void connectParallel() {
        Messages::Recorder quiet;
        Form9->BitBtn1->click();
        far.received.clear();
    }
    void loadAndSend() {
        QFile out(folder_ + QStringLiteral("/recibo.txt"));
        if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size())
            qFatal("cannot write the file");
        out.close();
        Form1->Abrir1->trigger();
        Form4->FileName->setText(out.fileName());
        Form4->BitBtn2->click();
        Form1->BitBtn3->click();
    }
    // Runs act once, when the next bytes reach the printer.
    void onArrival(std::function<void()> act) { arrival_ = std::move(act); }
    // Runs act once, while the running send waits for the printer.
    void whenWaiting(std::function<void()> act) {
        whenWaiting_ = std::move(act);
        waiting_.start();
    }
    // The printer goes off-line as the first bytes reach it, so the send
    // waits after a block; act then runs.
    void stallThen(std::function<void()> act) {
        onArrival([this] { far.printer.setOffline(true); });
        whenWaiting([this, act] {
            stalledAt = int(far.received.size());
            act();
        });
    }
    void resume() { far.printer.setOffline(false); }

    // How many bytes had reached the printer when the send began to wait.
    int stalledAt = -1;
    // Whether the busy lamp was lit while the send waited.
    bool busyLampLit = false;

private:
    QString folder_;
    std::function<void()> arrival_;
    std::function<void()> whenWaiting_;
    QTimer waiting_;
};

// The lines read off, the serial dialog disconnected; once the adapter is
// back, the port connects again and the printer answers.
void linesOffThenReconnects(Bench& b) {
    QCOMPARE(Form1->ComLed1->State(), lsOff);
    QCOMPARE(Form1->ComLed2->State(), lsOff);
    QVERIFY(!LinkState.SerialConnected);
    QCOMPARE(Form3->BitBtn2->text(), QStringLiteral("&Conectar"));
    b.line()->plugIn();
    b.resume();
    Messages::Recorder recorder;
    Form3->BitBtn2->click();
    QVERIFY(LinkState.CtsActive);
    Form1->BitBtn2->click();
    QCOMPARE(recorder.entries,
             QList<Entry>{plain(QString::fromLatin1(b.far.printer.statusReply().mid(1)))});
}

struct Row {
    const char* name; // the fault, and when it strikes
    std::function<void(Bench&)> run;
    QList<Entry> shown;
    // What the printer took.
    std::function<QByteArray(const Bench&)> arrived;
    // What must hold afterwards, besides a send at rest.
    std::function<void(Bench&)> then = [](Bench&) {};
    // The bytes were cut off: the printer took only the start of arrived.
    bool cut = false;
};

QByteArray nothing(const Bench&) {
    return {};
}
QByteArray whole(const Bench& b) {
    return b.file;
}
// The blocks that had gone out when the printer stalled.
QByteArray beforeTheStall(const Bench& b) {
    return b.stalledAt < 0 ? QByteArray("(the send never waited)") : b.file.left(b.stalledAt);
}
// The blocks before the stall, then between, then the rest of the file.
auto stalledThen(const QByteArray& between) {
    return
        [between](const Bench& b) { return beforeTheStall(b) + between + b.file.mid(b.stalledAt); };
}
auto exactly(const QByteArray& bytes) {
    return [bytes](const Bench&) { return bytes; };
}

// "Avança linhas" sent from its dialog while a send waits for the printer:
// the command goes out whole between two blocks, the file around it intact.
Row feedDuringSend(const char* name, std::function<void(Bench&)> connect) {
    return {name,
            [connect](Bench& b) {
                connect(b);
                b.stallThen([&b] {
                    Form1->AvancodeLinhas1->trigger();
                    Form15->Edit1->setText(QStringLiteral("3"));
                    Form15->BitBtn1->click();
                    b.resume();
                });
                b.loadAndSend();
            },
            {},
            stalledThen("\x1b"
                        "a\x03")};
}

// A query answered with a fault, bytes nobody asked for arriving while
// the program is idle, then the same query again, answered well.
Row replied(const char* name, bool status, const QByteArray& faulty, const QByteArray& idle,
            const Entry& first) {
    const QByteArray request = status ? StatusRequest : QByteArray("\x1bI1");
    const QByteArray good = status ? GoodStatus : modelReply();
    const auto ask = [status] { status ? Form1->BitBtn2->click() : Form1->Impressora1->trigger(); };
    return {name,
            [=](Bench& b) {
                const auto line = b.far.script({modelReply(), faulty, good});
                b.connectSerial();
                ask();
                line->send(idle);
                ask();
            },
            {first, plain(QString::fromLatin1(good.mid(1)))},
            exactly(request + request)};
}

std::vector<Row> makeRows() {
    const auto unplug = [](Bench& b) { return [&b] { b.line()->unplug(); }; };
    return {
        {"adapter unplugged, mid-block of a send",
         [=](Bench& b) {
             b.connectSerial(Speed::Slow);
             b.onArrival(unplug(b));
             b.loadAndSend();
         },
         {LineLost},
         whole,
         linesOffThenReconnects,
         true},
        {"adapter unplugged, while a send waits for the printer",
         [=](Bench& b) {
             b.connectSerial(Speed::Fast);
             b.stallThen(unplug(b));
             b.loadAndSend();
         },
         {LineLost},
         beforeTheStall,
         linesOffThenReconnects},
        {"adapter unplugged, during a status query",
         [=](Bench& b) {
             b.connectSerial();
             b.onArrival(unplug(b));
             Form1->BitBtn2->click();
         },
         {LineLost},
         exactly(StatusRequest),
         linesOffThenReconnects},
        {"adapter unplugged, during the model probe",
         [=](Bench& b) {
             b.onArrival(unplug(b));
             Form3->BitBtn2->click();
         },
         {LineLost},
         exactly("\x1bI1"),
         linesOffThenReconnects},
        {"adapter unplugged, during a direct command",
         [=](Bench& b) {
             b.connectSerial(Speed::Slow);
             b.onArrival(unplug(b));
             Form1->Gaveta1->trigger();
         },
         {LineLost},
         exactly(QByteArray("\x1bp\0\n\n", 5)),
         linesOffThenReconnects,
         true},
        {"adapter unplugged, while idle",
         [](Bench& b) {
             b.connectSerial();
             b.line()->unplug();
             QTRY_VERIFY(!LinkState.SerialConnected);
         },
         {LineLost},
         nothing,
         linesOffThenReconnects},

        {"printer stalled 30 s, mid-send",
         [](Bench& b) {
             b.connectSerial(Speed::Fast);
             b.stallThen([&b] {
                 b.far.printer.advance(30'000);
                 b.resume();
             });
             b.loadAndSend();
         },
         {},
         whole},
        {"printer stalled, Cancelar during the stall",
         [](Bench& b) {
             b.connectSerial(Speed::Fast);
             b.stallThen([] { Form1->BitBtn3->click(); });
             b.loadAndSend();
             b.resume();
         },
         {},
         beforeTheStall},

        {"parallel, paper out mid-send",
         [](Bench& b) {
             b.connectParallel();
             b.onArrival([&b] { b.far.printer.setPaperOut(true); });
             b.loadAndSend();
         },
         {},
         whole,
         [](Bench&) {
             QTRY_COMPARE(Form1->ComLed5->State(), lsOn); // "Erro" blinks
             Messages::Recorder recorder;
             Form1->BitBtn3->click();
             QCOMPARE(recorder.entries, QList<Entry>{NoPaper});
         }},
        {"parallel, off-line mid-send, then back",
         [](Bench& b) {
             b.connectParallel();
             b.stallThen([&b] {
                 b.busyLampLit = Form1->ComLed3->State() == lsOn;
                 b.resume();
             });
             b.loadAndSend();
         },
         {},
         whole,
         [](Bench& b) { QVERIFY(b.busyLampLit); }},
        {"parallel, busy that never clears, Cancelar",
         [](Bench& b) {
             b.connectParallel();
             b.stallThen([] { Form1->BitBtn3->click(); });
             b.loadAndSend();
         },
         {},
         beforeTheStall},

        feedDuringSend("serial, Avança linhas sent while a send waits",
                       [](Bench& b) { b.connectSerial(Speed::Fast); }),
        feedDuringSend("parallel, Avança linhas sent while a send waits",
                       [](Bench& b) { b.connectParallel(); }),
        {"serial, status asked while a send waits",
         [](Bench& b) {
             b.connectSerial(Speed::Fast);
             b.stallThen([&b] {
                 Form1->BitBtn2->click();
                 b.resume();
             });
             b.loadAndSend();
         },
         {plain(QStringLiteral("PFF110DN"))},
         stalledThen(StatusRequest)},
        {"parallel, status asked while a send waits",
         [](Bench& b) {
             b.connectParallel();
             b.stallThen([&b] {
                 Form1->BitBtn2->click();
                 b.resume();
             });
             b.loadAndSend();
         },
         {SerialOnly},
         whole},

        replied("status reply: none", true, {}, {}, StatusError),
        replied("status reply: short", true, "\x06PLF", {}, StatusError),
        replied("status reply: long", true, GoodStatus + "xyz", {}, plain("PLF110VN")),
        replied("status reply: late", true, {}, GoodStatus, StatusError),
        replied("status reply: garbage", true, QByteArray("\xff\x1b\x07\xe7\x80\x9d\0\xff\xfe", 9),
                {}, plain(Windows1252::decode("\x1b\x07\xe7\x80\x9d"))),
        replied("status reply: one nobody asked for", true, GoodStatus, "\x06SFA000CD\x06",
                plain("PLF110VN")),
        replied("model reply: none", false, {}, {}, ModelError),
        replied("model reply: long", false, modelReply() + "\x06PLF", {},
                plain(QString::fromLatin1(VirtualPrinter::DualModelName))),
    };
}

const std::vector<Row>& rows() {
    static const std::vector<Row> all = makeRows();
    return all;
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<Bench> bench;
    LinkSleep::Sleeper previousSleeper;

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        previousSleeper = LinkSleep::setSleeper([](int) {});
        scaleDownReadTimeouts(*Form3->ComPort1);
    }
    void cleanupTestCase() { LinkSleep::setSleeper(previousSleeper); }

    void init() {
        LinkState = TLinkState{};
        LoadedFile = TLoadedFile{};
        bench = std::make_unique<Bench>(dir.path());
    }
    void cleanup() {
        disconnectBoth();
        Form3->ComPort1->SetBaudRate(br9600);
        Form15->hide();
        bench.reset();
        LinkState = TLinkState{};
    }

    void theProgramKeepsWorkingThroughFaults_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(rows().size()); ++i)
            QTest::addRow("%s", rows()[i].name) << i;
    }
    void theProgramKeepsWorkingThroughFaults() {
        QFETCH(int, index);
        const Row& row = rows()[index];
        Bench& b = *bench;
        // A send that never ends is cancelled, and the row fails.
        bool hung = false;
        QTimer::singleShot(5000, &b.far.context, [&] {
            hung = true;
            if (Form1->BitBtn3->text() == QLatin1String("Cancelar"))
                Form1->BitBtn3->click();
        });
        Messages::Recorder recorder;
        row.run(b);
        QVERIFY(!hung);
        QCOMPARE(recorder.entries, row.shown);
        if (b.stalledAt >= 0) // a send waits between two blocks, never inside one
            QCOMPARE(b.stalledAt % ChunkSize, 0);
        const QByteArray arrived = row.arrived(b);
        if (row.cut)
            QVERIFY2(arrived.startsWith(b.far.received) && b.far.received.size() < arrived.size(),
                     b.far.received.toHex().constData());
        else
            QCOMPARE(b.far.received, arrived);
        QCOMPARE(Form1->BitBtn3->text(), QStringLiteral("&Enviar"));
        QVERIFY(!LinkState.CancelRequested);
        QCOMPARE(Form1->ComLed4->State(), lsOff);
        row.then(b);
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    createForms();
    wireLinkDevices();
    FaultsTest test;
    const int result = QTest::qExec(&test, argc, argv);
    unwireLinkDevices();
    destroyForms();
    return result;
}

#include "tst_faults.moc"
