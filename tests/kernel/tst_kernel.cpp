// The serial component on a real Linux kernel: the 8250 UART driver, inside
// the virtual machine that scripts/kernel-test boots. The far ends of the
// ports are played on the host by kernel_far_ends; a line "@@DO <what>" on
// the console asks it to act. Anywhere else the test skips.
#include "comport/EventThreadWakeups.h"
#include "comport/Raised.h"
#include "comport/Ser2net.h"
#include "kernel/Guest.h"

#include "connection/PrinterLineSettings.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

namespace {
// COM2 echoes what it gets, COM3 sends a break when asked, COM4 loses CTS
// when asked; COM5 is a device node with no UART behind it. COM9 is led to
// a device server serving COM2.
const QString echoPort = QStringLiteral("COM2");
const QString breakPort = QStringLiteral("COM3");
const QString ctsPort = QStringLiteral("COM4");
const QString missingPort = QStringLiteral("COM5");
const QString serverPort = QStringLiteral("COM9");
const char* const pnpDriver = "/sys/bus/pnp/drivers/serial/";

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

// COM2's UART as the kernel has it set, and how many bytes it has sent.
termios com2Settings() {
    termios t{};
    const int fd = ::open("/dev/ttyS1", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    tcgetattr(fd, &t);
    ::close(fd);
    return t;
}
qint64 com2Sent() {
    QFile uarts(QStringLiteral("/proc/tty/driver/serial"));
    const QString text = uarts.open(QIODevice::ReadOnly) ? uarts.readAll() : QString();
    const auto m = QRegularExpression(QStringLiteral("\\n1: .* tx:(\\d+)")).match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
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
            QSKIP(Guest::NotInMachine);
    }
    void init() { Guest::testStarts(); }
    void cleanup() { Guest::testEnds(); }

    void aBlockCrossesTheUartBothWays() {
        int empties = 0;
        TComPort port;
        configure(port, echoPort);
        port.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
        QCOMPARE(raisedCode([&] { port.Open(); }), 0);
        // Read from the UART: a socket far end holds CTS, DSR and RLSD on.
        QCOMPARE(port.Signals(), (TComSignals{csCTS, csDSR, csRLSD}));
        QByteArray block;
        for (int i = 0; i < 16 * 256; ++i)
            block.append(char(i));
        QCOMPARE(port.Write(block.constData(), int(block.size())), int(block.size()));
        QByteArray back(block.size(), 0);
        QCOMPARE(port.Read(back.data(), int(back.size())), int(back.size()));
        QCOMPARE(back, block);
        QTRY_COMPARE_WITH_TIMEOUT(empties, 1, 10000);
        QCOMPARE(port.Write("abc", 3), 3);
        QCOMPARE(port.Read(back.data(), 3), 3);
        QTRY_COMPARE_WITH_TIMEOUT(empties, 2, 10000);
        QTest::qWait(300);
        QCOMPARE(empties, 2);
    }

    // Line errors come with input or a break, and the modem lines are
    // waited for: an idle port's event thread never wakes.
    void anIdlePortSleepsAndClosesAtOnce() {
        TComPort port;
        configure(port, echoPort);
        QCOMPARE(raisedCode([&] { port.Open(); }), 0);
        QTest::qWait(300);
        const qint64 before = eventThreadWakeups();
        QTest::qWait(2000);
        const double perSecond = double(eventThreadWakeups() - before) / 2;
        std::printf("serial-idle-wakeups 8250 (per second): %.1f\n", perSecond);
        QCOMPARE(perSecond, 0.0);
        port.Close();
        // Nothing changes on the lines, so only Close can end the wait for
        // a modem-line change.
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(raisedCode([&] { port.Open(); }), 0);
            QTest::qWait(20);
            QElapsedTimer clock;
            clock.start();
            port.Close();
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
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

    // The 8250 driver switches off the modem-status interrupt the line
    // watch waits on whenever the settings change: the watch turns it on
    // again, or the drop would never be reported (nothing looks on a timer).
    // Then output held by CTS: the write times out with what the driver
    // took, and closing with it pending takes no time.
    void aCtsDropIsReportedAndHoldsOutput() {
        QList<bool> cts;
        int empties = 0;
        TComPort port;
        configure(port, ctsPort);
        port.Timeouts().SetWriteTotalMultiplier(0);
        port.Timeouts().SetWriteTotalConstant(500);
        port.OnCTSChange = [&](TCustomComPort*, bool on) { cts << on; };
        port.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
        QCOMPARE(raisedCode([&] { port.Open(); }), 0);
        QCOMPARE(cts, QList<bool>{true});
        QTest::qWait(200);
        port.SetBaudRate(br19200);
        Guest::askHost("drop-cts com4");
        QTRY_COMPARE_WITH_TIMEOUT(cts, (QList<bool>{true, false}), 10000);
        QVERIFY(!port.Signals().Contains(csCTS));
        port.FlowControl().SetOutCTSFlow(true);
        const QByteArray data(8192, 'h');
        QElapsedTimer clock;
        clock.start();
        const int written = port.Write(data.constData(), int(data.size()));
        QVERIFY2(clock.elapsed() >= 495, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(written > 0 && written < data.size(), qPrintable(QString::number(written)));
        QTRY_COMPARE_WITH_TIMEOUT(empties, 1, 10000);
        clock.restart();
        port.Close();
        std::printf("close with %d bytes held by CTS on the 8250: %lld ms\n", written,
                    static_cast<long long>(clock.elapsed()));
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    }

    // Another program has the UART open with DTR and RTS low: the port is
    // refused before it opens the device, which would raise them.
    void aRefusedOpenLeavesTheHoldersLinesAlone() {
        int ready[2], told[2];
        QVERIFY(::pipe(ready) == 0 && ::pipe(told) == 0);
        const pid_t holder = ::fork();
        if (holder == 0) {
            const int fd = ::open("/dev/ttyS1", O_RDWR | O_NOCTTY | O_NONBLOCK);
            int lines = TIOCM_DTR | TIOCM_RTS;
            ioctl(fd, TIOCMBIC, &lines);
            char c = 0;
            [[maybe_unused]] auto n = ::write(ready[1], &c, 1);
            n = ::read(told[0], &c, 1);
            ioctl(fd, TIOCMGET, &lines);
            n = ::write(ready[1], &lines, sizeof lines);
            ::_exit(0);
        }
        char c = 0;
        QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
        TComPort port;
        configure(port, echoPort);
        QCOMPARE(raisedCode([&] { port.Open(); }), 1);
        QCOMPARE(::write(told[1], &c, 1), ssize_t(1));
        int lines = -1;
        QCOMPARE(::read(ready[0], &lines, sizeof lines), ssize_t(sizeof lines));
        ::waitpid(holder, nullptr, 0);
        for (const int fd : {ready[0], ready[1], told[0], told[1]})
            ::close(fd);
        QCOMPARE(lines & (TIOCM_DTR | TIOCM_RTS), 0);
    }

    void aBreakIsOneBreakEventAndOneBreakError() {
        int breaks = 0;
        QList<TComErrors> errors;
        TComPort port;
        configure(port, breakPort);
        port.OnBreak = [&](TCustomComPort*) { ++breaks; };
        port.OnError = [&](TCustomComPort*, TComErrors e) { errors << e; };
        QCOMPARE(raisedCode([&] { port.Open(); }), 0);
        Guest::askHost("break");
        QTRY_COMPARE_WITH_TIMEOUT(breaks, 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(errors, QList<TComErrors>{TComErrors{ceBreak}}, 10000);
        QTest::qWait(600);
        QCOMPARE(breaks, 1);
        QCOMPARE(errors.size(), 1);
        // A break reaches the reader as nothing at all.
        port.Timeouts().SetReadTotalConstant(0);
        port.Timeouts().SetReadTotalMultiplier(0);
        port.Timeouts().SetReadInterval(-1);
        char buffer[8];
        QCOMPARE(port.Read(buffer, 8), 0);
    }

    void aPortWithNoUartIsAMissingPort() {
        TComPort port;
        configure(port, missingPort);
        QString message;
        QCOMPARE(raisedCode([&] { port.Open(); }, &message), 1);
        QCOMPARE(message, QStringLiteral("Unable to open com port (win error code: 2)"));
        QVERIFY(!port.Connected());
    }

    // Near the end, as it takes COM2 away for a while.
    void aHangUpIsOneErrorEventAndThePortComesBack() {
        const QString device = pnpDeviceAt(QStringLiteral("0x2f8"));
        QVERIFY(!device.isEmpty());
        // COM2 comes back, once closed, whatever fails below: later programs list it.
        auto rebind = qScopeGuard([&] { writeSysfs(QStringLiteral("bind"), device); });
        QList<TComErrors> errors;
        QList<bool> cts;
        TComPort port;
        configure(port, echoPort);
        port.OnError = [&](TCustomComPort*, TComErrors e) { errors << e; };
        QCOMPARE(raisedCode([&] { port.Open(); }), 0);
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
        // The read's own thread: the other one does the kernel's unbinding.
        const Guest::CpuWatch cpu(Guest::CpuWatch::Scope::ThisThread);
        const int code = raisedCode([&] { port.Read(buffer, 9); }, &message);
        unplug.join();
        QCOMPARE(code, 3);
        QCOMPARE(message, QStringLiteral("ReadFile function failed (win error code: 1117)"));
        // Far from the 12 s the read would wait for a reply that never comes.
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(cpu.spinning().isEmpty(), qPrintable(cpu.spinning()));
        QTRY_COMPARE_WITH_TIMEOUT(errors, QList<TComErrors>{TComErrors{ceIO}}, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(cts, QList<bool>{false}, 10000);
        QCOMPARE(raisedCode([&] { port.Write("a", 1); }), 2);
        QCOMPARE(raisedCode([&] { port.Read(buffer, 1); }), 3);
        const qint64 before = eventThreadWakeups();
        QTest::qWait(500);
        QVERIFY(eventThreadWakeups() - before <= 1);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(cts.size(), 1);
        port.Close();

        rebind.dismiss();
        QVERIFY(writeSysfs(QStringLiteral("bind"), device));
        QCOMPARE(raisedCode([&] { port.Open(); }), 0);
        QVERIFY(port.Signals().Contains(csCTS));
        QCOMPARE(port.Write("back", 4), 4);
        QCOMPARE(port.Read(buffer, 4), 4);
        QCOMPARE(QByteArray(buffer, 4), QByteArray("back"));
    }

    // After the hang-up, as COM2 keeps its CTS off from then on: Debian's
    // ser2net serves the UART, the component is its client over RFC 2217,
    // and the host's far end plays the printer.
    void aDeviceServerOnTheUartCarriesTheLine() {
        Ser2net server(QStringLiteral("/dev/ttyS1"));
        QVERIFY(server.start(30000));
        PortMap::map(serverPort, server.url(true));
        const auto unmap = qScopeGuard([] { PortMap::map(serverPort, {}); });
        Guest::askHost("com2-printer");
        QList<bool> cts;
        TComPort port;
        configure(port, serverPort);
        port.OnCTSChange = [&](TCustomComPort*, bool on) { cts << on; };
        QCOMPARE(raisedCode([&] { port.Open(); }), 0);
        QVERIFY(port.Signals().Contains(csCTS));
        // ser2net opened the UART at 115200: the client set it.
        termios t = com2Settings();
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));

        QByteArray block;
        for (int i = 0; i < 4000; ++i)
            block.append(char(i));
        Guest::expectCom2(block + "\x1bv");
        QCOMPARE(port.Write(block.constData(), int(block.size())), int(block.size()));
        QCOMPARE(port.Write("\x1bv", 2), 2);
        char reply[9];
        QCOMPARE(port.Read(reply, 9), 9);
        QCOMPARE(QByteArray(reply, 9), QByteArray("\x01PRONTA 1"));

        // The server looks at the modem lines about once a second.
        Guest::askHost("drop-cts com2");
        QTRY_VERIFY_WITH_TIMEOUT(cts.contains(false), 15000);
        QVERIFY(!port.Signals().Contains(csCTS));
        port.FlowControl().SetOutCTSFlow(true);
        port.Timeouts().SetWriteTotalMultiplier(0);
        port.Timeouts().SetWriteTotalConstant(1000);
        // More than the UART, the server and both sockets hold.
        const QByteArray held(8 << 20, 'h');
        const int written = port.Write(held.constData(), int(held.size()));
        QVERIFY2(written < held.size(), qPrintable(QString::number(written)));
        t = com2Settings();
        QVERIFY(t.c_cflag & CRTSCTS);
        const qint64 sent = com2Sent();
        QVERIFY(sent > block.size());
        QTest::qWait(500);
        QCOMPARE(com2Sent(), sent);
        port.Close();
        // Its close of the UART would wait for the held output.
        server.process.kill();
    }
};

QTEST_GUILESS_MAIN(KernelTest)
#include "tst_kernel.moc"
