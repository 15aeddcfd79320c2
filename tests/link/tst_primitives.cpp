#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/PortIOAccess.h"
#include "link/Primitives.h"
#include "link/portio/LptMap.h"
#include "link/portio/PortIO.h"
#include "link/portio/VirtualParallelPort.h"
#include "windowkit/Messages.h"

#include <QTest>
#include <chrono>

using Reg = ParallelPortBackend::Register;
using Access = VirtualParallelPort::Access;
Q_DECLARE_METATYPE(QList<Access>)

namespace {

class FakeSerial : public SerialPortAccess {
public:
    QList<QByteArray> writes;
    int Write(const void* buffer, int count) override {
        writes.append(QByteArray(static_cast<const char*>(buffer), count));
        return count;
    }
    int Read(void*, int) override { return 0; }
    void ClearInput() override {}
    void SetOutCTSFlow(bool) override {}
};

class FakeLed : public IndicatorAccess {
public:
    QList<bool> states;
    void SetOn(bool on) override { states.append(on); }
};

} // namespace

// The primitives run against the real TPortIO with both LPT names attached to
// virtual ports, so every register access is seen as the port would see it.
class PrimitivesTest : public QObject {
    Q_OBJECT

    std::shared_ptr<VirtualParallelPort> lpt1, lpt2;
    TPortIO* portIO = nullptr;
    PortIOAccess* access = nullptr;
    FakeSerial serial;
    FakeLed led3, led5;
    bool verificaBusy = true;
    QList<int> pauses;
    QByteArray strobed1, strobed2;

private slots:
    void init() {
        LinkState = TLinkState{};
        lpt1 = std::make_shared<VirtualParallelPort>();
        lpt2 = std::make_shared<VirtualParallelPort>();
        lpt1->setStrobeHandler([this](uint8_t b) { strobed1.append(char(b)); });
        lpt2->setStrobeHandler([this](uint8_t b) { strobed2.append(char(b)); });
        LptMap::map(QStringLiteral("LPT1"), QStringLiteral("virtual"));
        LptMap::map(QStringLiteral("LPT2"), QStringLiteral("virtual"));
        LptMap::setVirtualPortProvider(
            [this](const QString& name) { return name == QLatin1String("LPT1") ? lpt1 : lpt2; });
        portIO = new TPortIO;
        portIO->OpenDriver();
        QVERIFY(portIO->ActiveHW());
        access = new PortIOAccess(*portIO);
        serial.writes.clear();
        led3.states.clear();
        led5.states.clear();
        verificaBusy = true;
        pauses.clear();
        strobed1.clear();
        strobed2.clear();
        LinkDevices = TLinkDevices{&serial, access, &led3, &led5, [this] { return verificaBusy; }};
        LinkSleep::setSleeper([this](int ms) { pauses.append(ms); });
    }

    void cleanup() {
        LinkSleep::setSleeper({});
        LinkDevices = TLinkDevices{};
        delete access;
        delete portIO;
        LptMap::setVirtualPortProvider({});
        LptMap::reset();
    }

    void requireInterfaceWarnsOnlyWhenNothingIsConnected_data() {
        QTest::addColumn<bool>("serialConnected");
        QTest::addColumn<bool>("parallelConnected");
        QTest::addColumn<bool>("result");
        QTest::newRow("none") << false << false << false;
        QTest::newRow("serial") << true << false << true;
        QTest::newRow("parallel") << false << true << true;
        QTest::newRow("both") << true << true << true;
    }
    void requireInterfaceWarnsOnlyWhenNothingIsConnected() {
        QFETCH(bool, serialConnected);
        QFETCH(bool, parallelConnected);
        QFETCH(bool, result);
        Messages::Recorder recorder;
        LinkState.SerialConnected = serialConnected;
        LinkState.ParallelConnected = parallelConnected;
        QCOMPARE(RequireInterface(), result);
        QList<Messages::Recorder::Entry> expected;
        if (!result)
            expected.append({Messages::Form::Warning, QStringLiteral("ATENÇÃO"),
                             QStringLiteral("Selecione Uma interface de comunicação (Serial ou "
                                            "Paralela)")});
        QCOMPARE(recorder.entries, expected);
    }

    void parallelWriteByteStrobesInOrderAndKeepsControlBits_data() {
        QTest::addColumn<quint16>("base");
        QTest::addColumn<quint8>("control");
        QTest::addColumn<quint8>("value");
        QTest::newRow("LPT1, control clear") << quint16(0x378) << quint8(0x00) << quint8('A');
        QTest::newRow("LPT1, other bits set") << quint16(0x378) << quint8(0x0E) << quint8(0x1B);
        QTest::newRow("LPT2, strobe left asserted")
            << quint16(0x278) << quint8(0x2D) << quint8(0xFF);
        QTest::newRow("LPT2, zero byte") << quint16(0x278) << quint8(0xC4) << quint8(0x00);
    }
    void parallelWriteByteStrobesInOrderAndKeepsControlBits() {
        QFETCH(quint16, base);
        QFETCH(quint8, control);
        QFETCH(quint8, value);
        LinkState.LptBasePort = base;
        portIO->CloseDriver();
        portIO->BasePort = base;
        portIO->OpenDriver();
        VirtualParallelPort& used = base == 0x378 ? *lpt1 : *lpt2;
        VirtualParallelPort& other = base == 0x378 ? *lpt2 : *lpt1;
        used.write(Reg::Control, control);
        used.clearAccesses();
        strobed1.clear();
        strobed2.clear();

        QCOMPARE(ParallelWriteByte(value), 0);

        const uint8_t released = control & 0xFE;
        const QList<Access> expected{
            {Reg::Control, false, control},
            {Reg::Control, true, released},
            {Reg::Data, true, value},
            {Reg::Control, false, released},
            {Reg::Control, true, uint8_t(released | 0x01)},
            {Reg::Control, true, released},
        };
        QCOMPARE(used.accesses(), expected);
        QVERIFY(other.accesses().isEmpty());
        QCOMPARE(base == 0x378 ? strobed1 : strobed2, QByteArray(1, char(value)));
        QCOMPARE(pauses, QList<int>{2});
    }

    void statusRegisterDecodesFaultAndBusy_data() {
        QTest::addColumn<quint8>("status");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<bool>("busyBefore");
        QTest::addColumn<bool>("fault");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("ledOn");
        QTest::addColumn<bool>("lost");
        QTest::newRow("0x87 checked")
            << quint8(0x87) << true << true << true << false << false << false;
        QTest::newRow("0x08 checked")
            << quint8(0x08) << true << false << false << true << true << false;
        QTest::newRow("0x08 unchecked keeps idle")
            << quint8(0x08) << false << false << false << false << false << false;
        QTest::newRow("0x87 unchecked keeps busy")
            << quint8(0x87) << false << true << true << true << false << false;
        QTest::newRow("ready printer")
            << quint8(0xDF) << true << true << false << false << false << false;
        // A status that cannot be read is no ready printer.
        QTest::newRow("a ready printer whose device has gone")
            << quint8(0xDF) << true << false << true << true << true << true;
    }
    void statusRegisterDecodesFaultAndBusy() {
        QFETCH(quint8, status);
        QFETCH(bool, checked);
        QFETCH(bool, busyBefore);
        QFETCH(bool, fault);
        QFETCH(bool, busy);
        QFETCH(bool, ledOn);
        QFETCH(bool, lost);
        lpt1->setStatus(status);
        lpt1->setLost(lost);
        verificaBusy = checked;
        LinkState.PrinterBusy = busyBefore;

        PollParallelBusy();
        PollParallelFault();

        QCOMPARE(LinkState.PrinterFault, fault);
        QCOMPARE(LinkState.PrinterBusy, busy);
        QCOMPARE(led3.states, QList<bool>{ledOn});
        // The status register is read by both polls, whether or not busy is
        // watched; a device found gone is not read again.
        const QList<Access> reads(lost ? 1 : 2, {Reg::Status, false, status});
        QCOMPARE(lpt1->accesses(), reads);
    }

    void timerBlinksTheErrorLedWhileTheFaultLasts() {
        lpt1->setFault(true);
        for (int tick = 0; tick < 3; ++tick)
            Timer1Timer();
        QCOMPARE(led5.states, (QList<bool>{true, false, true}));
        QCOMPARE(LinkState.FaultBlinkPhase, true);

        lpt1->setFault(false);
        Timer1Timer();
        QCOMPARE(led5.states.last(), false);
        QCOMPARE(LinkState.FaultBlinkPhase, true);
        QCOMPARE(LinkState.PrinterFault, false);

        // The next fault starts from the phase opposite to the last one shown.
        lpt1->setFault(true);
        Timer1Timer();
        QCOMPARE(led5.states.last(), false);
        QCOMPARE(led3.states.size(), 5);
    }

    void sendBytesPicksTheInterface_data() {
        QTest::addColumn<bool>("serialConnected");
        QTest::addColumn<bool>("parallelConnected");
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<int>("serialWrites");
        QTest::addColumn<QByteArray>("strobed");
        QTest::addColumn<bool>("txPending");
        const QByteArray block("\x1b@Tellumo\r\n", 11);
        QTest::newRow("serial: one write") << true << false << block << 1 << QByteArray() << true;
        QTest::newRow("parallel: byte by byte") << false << true << block << 0 << block << true;
        QTest::newRow("both: serial wins") << true << true << block << 1 << QByteArray() << true;
        QTest::newRow("serial, empty")
            << true << false << QByteArray() << 0 << QByteArray() << false;
        QTest::newRow("parallel, empty")
            << false << true << QByteArray() << 0 << QByteArray() << false;
    }
    void sendBytesPicksTheInterface() {
        QFETCH(bool, serialConnected);
        QFETCH(bool, parallelConnected);
        QFETCH(QByteArray, block);
        QFETCH(int, serialWrites);
        QFETCH(QByteArray, strobed);
        QFETCH(bool, txPending);
        LinkState.SerialConnected = serialConnected;
        LinkState.ParallelConnected = parallelConnected;

        SendBytes(reinterpret_cast<const uint8_t*>(block.constData()), int(block.size()));

        QCOMPARE(LinkState.TxPending, txPending);
        QCOMPARE(serial.writes.size(), serialWrites);
        if (serialWrites)
            QCOMPARE(serial.writes.first(), block);
        QCOMPARE(strobed1, strobed);
        QCOMPARE(pauses, QList<int>(strobed.size(), 2));
    }

    void baseSurvivesDisconnectAndFollowsReconnect() {
        ParallelWriteByte('1');
        QVERIFY(portIO->CloseDriver());
        QCOMPARE(LinkState.LptBasePort, quint16(0x378));

        portIO->BasePort = 0x278;
        portIO->OpenDriver();
        LinkState.LptBasePort = 0x278;
        ParallelWriteByte('2');
        QCOMPARE(strobed1, QByteArray("1"));
        QCOMPARE(strobed2, QByteArray("2"));
    }

    void unwiredPortReadsAsNoPrinter() {
        LinkDevices.PortIO1 = nullptr;
        QCOMPARE(ParallelWriteByte('x'), 0);
        PollParallelFault();
        QCOMPARE(LinkState.PrinterFault, false);
        QCOMPARE(pauses, QList<int>{2});
    }

    // Back-to-back blocks form one stream: a block that follows at once may
    // start in the slot the previous byte's late wake-up left, but from an idle
    // start the stream never goes out faster than 2 ms per byte.
    void parallelStreamTakesAtLeastTwoMillisecondsPerByte() {
        LinkSleep::setSleeper({});
        LinkState.ParallelConnected = true;
        const QByteArray block(20, 'x');
        LinkSleep::Sleep(1); // idle long enough for the first byte to open a fresh slot
        const auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < 3; ++round)
            SendBytes(reinterpret_cast<const uint8_t*>(block.constData()), int(block.size()));
        QVERIFY(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(120));
        QCOMPARE(strobed1, block.repeated(3));
    }

    void realPauseLastsAtLeastItsLength() {
        LinkSleep::setSleeper({});
        for (int ms : {1, 2, 5}) {
            const auto start = std::chrono::steady_clock::now();
            LinkSleep::Sleep(ms);
            QVERIFY(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(ms));
        }
    }
};

QTEST_GUILESS_MAIN(PrimitivesTest)
#include "tst_primitives.moc"
