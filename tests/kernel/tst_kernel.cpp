// The serial and parallel components on a real Linux kernel: the 8250 UART
// driver and parport_pc with ppdev, inside the virtual machine that
// scripts/kernel-test boots. The far ends of the ports are played on the
// host by kernel_far_ends; a line "@@DO <what>" on the console asks it to act.
// Anywhere else the test skips.
#include "comport/EventThreadWakeups.h"
#include "comport/Raised.h"
#include "kernel/Guest.h"

#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/PortIOAccess.h"
#include "link/Primitives.h"
#include "link/PrinterLineSettings.h"
#include "link/comport/ComPort.h"
#include "link/portio/LptMap.h"
#include "link/portio/PortIO.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <thread>
#include <time.h>

namespace {
// COM2 echoes what it gets, COM3 sends a break when asked, COM4 loses CTS
// when asked; COM5 is a device node with no UART behind it.
const QString echoPort = QStringLiteral("COM2");
const QString breakPort = QStringLiteral("COM3");
const QString ctsPort = QStringLiteral("COM4");
const QString missingPort = QStringLiteral("COM5");
const char* const pnpDriver = "/sys/bus/pnp/drivers/serial/";

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The PNP device of the UART at an I/O base ("0x2f8"), as sysfs names it.
QString pnpDeviceAt(const QString& base) {
    const QDir devices(QStringLiteral("/sys/bus/pnp/devices"));
    for (const QString& name : devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile resources(devices.filePath(name + QStringLiteral("/resources")));
        if (resources.open(QIODevice::ReadOnly) &&
            resources.readAll().contains(("io " + base + "-").toLatin1()))
            return name;
    }
    return {};
}

bool writeSysfs(const QString& file, const QString& value) {
    QFile f(QString::fromLatin1(pnpDriver) + file);
    return f.open(QIODevice::WriteOnly) && f.write(value.toLatin1()) == value.size();
}

// The settings the serial dialog gives ComPort1.
void configure(TCustomComPort& port, const QString& name) {
    port.SetPort(name);
    applyPrinterLineSettings(port);
}
} // namespace

class KernelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!Guest::inMachine())
            QSKIP("runs only inside the virtual machine of scripts/kernel-test");
    }

    void aBlockCrossesTheUartBothWays() {
        int empties = 0;
        TComPort port;
        configure(port, echoPort);
        port.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
        port.Open();
        // Read from the UART: a socket far end holds CTS, DSR and RLSD on.
        QCOMPARE(port.Signals(), (TComSignals{csCTS, csDSR, csRLSD}));
        QByteArray block;
        for (int i = 0; i < 16 * 256; ++i)
            block.append(char(i));
        QCOMPARE(port.Write(block.constData(), int(block.size())), int(block.size()));
        QByteArray back(block.size(), 0);
        QCOMPARE(port.Read(back.data(), int(back.size())), int(back.size()));
        QCOMPARE(back, block);
        QTRY_COMPARE(empties, 1);
        QCOMPARE(port.Write("abc", 3), 3);
        QCOMPARE(port.Read(back.data(), 3), 3);
        QTRY_COMPARE(empties, 2);
        QTest::qWait(300);
        QCOMPARE(empties, 2);
    }

    void anIdlePortWakesRarelyAndClosesAtOnce() {
        TComPort port;
        configure(port, echoPort);
        port.Open();
        QTest::qWait(300);
        const qint64 before = eventThreadWakeups();
        QTest::qWait(2000);
        const qint64 wakeups = eventThreadWakeups() - before;
        QVERIFY2(wakeups <= 12, qPrintable(QString::number(wakeups)));
        port.Close();
        // Nothing changes on the lines, so only Close can end the wait for
        // a modem-line change.
        for (int i = 0; i < 5; ++i) {
            port.Open();
            QTest::qWait(20);
            QElapsedTimer clock;
            clock.start();
            port.Close();
            QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        }
    }

    void lineSettings_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<int>("code");
        QTest::newRow("9600 8N1") << int(br9600) << int(dbEight) << int(prNone) << int(sbOneStopBit)
                                  << 0;
        QTest::newRow("7E2") << int(br9600) << int(dbSeven) << int(prEven) << int(sbTwoStopBits)
                             << 0;
        QTest::newRow("56000") << int(br56000) << int(dbEight) << int(prNone) << int(sbOneStopBit)
                               << 0;
        QTest::newRow("115200") << int(br115200) << int(dbEight) << int(prNone) << int(sbOneStopBit)
                                << 0;
        QTest::newRow("128000 refused")
            << int(br128000) << int(dbEight) << int(prNone) << int(sbOneStopBit) << 7;
        QTest::newRow("256000 refused")
            << int(br256000) << int(dbEight) << int(prNone) << int(sbOneStopBit) << 7;
    }
    void lineSettings() {
        QFETCH(int, rate);
        QFETCH(int, dataBits);
        QFETCH(int, parity);
        QFETCH(int, stopBits);
        QFETCH(int, code);
        TComPort port;
        configure(port, echoPort);
        port.SetBaudRate(TBaudRate(rate));
        port.SetDataBits(TDataBits(dataBits));
        port.Parity().SetBits(TParityBits(parity));
        port.SetStopBits(TStopBits(stopBits));
        QCOMPARE(raisedCode([&] { port.Open(); }), code);
        QCOMPARE(port.Connected(), code == 0);
    }

    void aCtsDropIsReportedAndHoldsOutput() {
        QList<bool> cts;
        int empties = 0;
        TComPort port;
        configure(port, ctsPort);
        port.FlowControl().SetOutCTSFlow(true);
        port.Timeouts().SetWriteTotalMultiplier(0);
        port.Timeouts().SetWriteTotalConstant(500);
        port.OnCTSChange = [&](TCustomComPort*, bool on) { cts << on; };
        port.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
        port.Open();
        QCOMPARE(cts, QList<bool>{true});
        Guest::askHost("drop-cts");
        QTRY_COMPARE_WITH_TIMEOUT(cts, (QList<bool>{true, false}), 10000);
        QVERIFY(!port.Signals().Contains(csCTS));
        const QByteArray data(8192, 'h');
        QElapsedTimer clock;
        clock.start();
        const int written = port.Write(data.constData(), int(data.size()));
        QVERIFY2(clock.elapsed() >= 495, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(written < 64, qPrintable(QString::number(written)));
        QTRY_COMPARE(empties, 1);
    }

    void aBreakIsOneBreakEventAndOneBreakError() {
        int breaks = 0;
        QList<TComErrors> errors;
        TComPort port;
        configure(port, breakPort);
        port.OnBreak = [&](TCustomComPort*) { ++breaks; };
        port.OnError = [&](TCustomComPort*, TComErrors e) { errors << e; };
        port.Open();
        Guest::askHost("break");
        QTRY_COMPARE_WITH_TIMEOUT(breaks, 1, 10000);
        QTRY_COMPARE(errors, QList<TComErrors>{TComErrors{ceBreak}});
        QTest::qWait(600);
        QCOMPARE(breaks, 1);
        QCOMPARE(errors.size(), 1);
        // A break reaches the reader as nothing at all.
        QCOMPARE(port.InputCount(), 0);
    }

    void lpt1StrobesItsBytesThroughPpdev() {
        // The guest's kernel numbers the 0x278 port first.
        LptMap::map(QStringLiteral("LPT1"), QStringLiteral("/dev/parport1"));
        LptMap::map(QStringLiteral("LPT2"), QStringLiteral("/dev/parport0"));
        TPortIO portIO;
        portIO.OpenDriver();
        QVERIFY(portIO.ActiveHW());
        QVERIFY(portIO.HasPort(TPortIO::Lpt1Base));
        PortIOAccess access(portIO);
        LinkDevices.PortIO1 = &access;
        LinkState.LptBasePort = TPortIO::Lpt1Base;
        QByteArray bytes;
        for (int b = 0; b < 256; ++b)
            bytes.append(char(b));
        Guest::expectLpt(1, bytes);
        for (const char b : bytes)
            ParallelWriteByte(uint8_t(b));
        PollParallelFault();
        QVERIFY(!LinkState.PrinterFault);
        TPortIO second;
        second.OpenDriver();
        QVERIFY(!second.ActiveHW());
        QVERIFY2(second.LastError().startsWith(QStringLiteral(
                     "claim /dev/parport1: held by another program or by another driver such as "
                     "lp;")),
                 qPrintable(second.LastError()));
        LinkDevices.PortIO1 = nullptr;
        LptMap::reset();
    }

    void aPortWithNoUartIsAMissingPort() {
        TComPort port;
        configure(port, missingPort);
        QString message;
        QCOMPARE(raisedCode([&] { port.Open(); }, &message), 1);
        QCOMPARE(message, QStringLiteral("Unable to open com port (win error code: 2)"));
        QVERIFY(!port.Connected());
    }

    // Last, as it takes COM2 away for a while.
    void aHangUpIsOneErrorEventAndThePortComesBack() {
        const QString device = pnpDeviceAt(QStringLiteral("0x2f8"));
        QVERIFY(!device.isEmpty());
        QList<TComErrors> errors;
        QList<bool> cts;
        TComPort port;
        configure(port, echoPort);
        port.OnError = [&](TCustomComPort*, TComErrors e) { errors << e; };
        port.Open();
        port.OnCTSChange = [&](TCustomComPort*, bool on) { cts << on; };
        std::thread unplug([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            writeSysfs(QStringLiteral("unbind"), device);
        });
        // A reply that never comes: the read is running when the line goes.
        char buffer[9];
        QString message;
        QElapsedTimer clock;
        clock.start();
        const double cpu = cpuSeconds();
        const int code = raisedCode([&] { port.Read(buffer, 9); }, &message);
        unplug.join();
        QCOMPARE(code, 3);
        QCOMPARE(message, QStringLiteral("ReadFile function failed (win error code: 1117)"));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(cpuSeconds() - cpu < 0.5, "the read spins after a hang-up");
        QTRY_COMPARE(errors, QList<TComErrors>{TComErrors{ceIO}});
        QTRY_COMPARE(cts, QList<bool>{false});
        QCOMPARE(raisedCode([&] { port.Write("a", 1); }), 2);
        QCOMPARE(raisedCode([&] { port.Read(buffer, 1); }), 3);
        const qint64 before = eventThreadWakeups();
        QTest::qWait(500);
        QVERIFY(eventThreadWakeups() - before <= 1);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(cts.size(), 1);
        port.Close();

        QVERIFY(writeSysfs(QStringLiteral("bind"), device));
        port.Open();
        QVERIFY(port.Signals().Contains(csCTS));
        QCOMPARE(port.Write("back", 4), 4);
        QCOMPARE(port.Read(buffer, 4), 4);
        QCOMPARE(QByteArray(buffer, 4), QByteArray("back"));
    }
};

QTEST_GUILESS_MAIN(KernelTest)
#include "tst_kernel.moc"
