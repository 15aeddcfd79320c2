// The serial port on the USB serial drivers users have, inside the virtual
// machine of scripts/kernel-test: qemu's emulated FTDI adapter on ftdi_sio
// (/dev/ttyUSB0; its host end echoes, and "@@DO unplug-ftdi" / "plug-ftdi"
// pull it out and put it back) and an ACM gadget on the kernel's own USB
// loopback, met by cdc_acm (/dev/ttyACM0), whose device side the test plays
// on /dev/ttyGS0. Anywhere else the test skips.
#include "comport/EventThreadWakeups.h"
#include "comport/Raised.h"
#include "kernel/Guest.h"

#include "connection/PrinterLineSettings.h"
#include "connection/SerialReconnect.h"
#include "connection/SystemPorts.h"
#include "link/ComPortAccess.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "windowkit/Messages.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

const QString portName = QStringLiteral("COM6");

QString nodeOf(const QString& adapter) {
    return adapter == QLatin1String("ftdi") ? QStringLiteral("/dev/ttyUSB0")
                                            : QStringLiteral("/dev/ttyACM0");
}

QByteArray pattern(int size) {
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

// The device side of the ACM gadget, raw. A reopened one delivers bytes from
// before an unplug: they are dropped.
class GadgetEnd {
public:
    GadgetEnd() : fd_(::open("/dev/ttyGS0", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
        tcflush(fd_, TCIOFLUSH);
    }
    ~GadgetEnd() { ::close(fd_); }
    GadgetEnd(const GadgetEnd&) = delete;
    GadgetEnd& operator=(const GadgetEnd&) = delete;

    // What arrives until count bytes came or ms passed with nothing new.
    QByteArray take(qsizetype count, int ms = 5000) {
        QByteArray got;
        QElapsedTimer quiet;
        quiet.start();
        char buffer[4096];
        while (got.size() < count && quiet.elapsed() < ms) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, int(n));
                quiet.restart();
            } else {
                QThread::msleep(2);
            }
        }
        return got;
    }
    void give(const QByteArray& bytes) {
        for (qsizetype sent = 0; sent < bytes.size();) {
            const ssize_t n = ::write(fd_, bytes.constData() + sent, size_t(bytes.size() - sent));
            if (n > 0)
                sent += n;
            else
                QThread::msleep(2);
        }
    }

private:
    int fd_;
};

// What the operator would be told of a lost line: the error events, the
// exceptions that left a handler, and the lost-line reports of the senders.
struct LossRecord {
    explicit LossRecord(TCustomComPort& port) {
        port.OnError = [this](TCustomComPort*, TComErrors e) { errors << e; };
        SetComExceptionHook([this](const std::exception& e) { shown << e.what(); });
    }
    ~LossRecord() { SetComExceptionHook({}); }
    QList<TComErrors> errors;
    QStringList shown;
    int lineLost = 0;
};

// The listing of a tty's sysfs entries that tests/connection/sysfs copies: the
// class link, the tty's type and device link, and up its device chain the
// driver links and USB identity files.
void printSysfsFile(const QString& path) {
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        std::printf("@@SYSFS F %s %s\n", qPrintable(path.mid(1)),
                    f.readLine().trimmed().constData());
}

void printSysfsLink(const QString& path) {
    const QFileInfo link(path);
    if (link.isSymLink())
        std::printf("@@SYSFS L %s %s\n", qPrintable(path.mid(1)),
                    qPrintable(QDir(link.path()).relativeFilePath(link.symLinkTarget())));
}

void printSysfs(const QString& tty) {
    const QString entry = QStringLiteral("/sys/class/tty/") + tty;
    printSysfsLink(entry);
    QString dir = QFileInfo(entry).canonicalFilePath();
    printSysfsFile(dir + QStringLiteral("/type"));
    printSysfsLink(dir + QStringLiteral("/device"));
    for (dir = QFileInfo(dir).path(); dir.startsWith(QLatin1String("/sys/devices/"));
         dir = QFileInfo(dir).path()) {
        printSysfsLink(dir + QStringLiteral("/driver"));
        for (const char* name : {"idVendor", "idProduct", "manufacturer", "product", "serial"})
            printSysfsFile(dir + QLatin1Char('/') + QLatin1String(name));
    }
}

} // namespace

class KernelUsbSerialTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Guest::UsbGadget> acm;

    void unplug(const QString& adapter) {
        if (adapter == QLatin1String("ftdi"))
            Guest::askHost("unplug-ftdi");
        else
            acm->unplug();
    }
    bool plug(const QString& adapter) {
        if (adapter == QLatin1String("ftdi"))
            Guest::askHost("plug-ftdi");
        else
            acm->plug();
        return Guest::waitFor(nodeOf(adapter), true, 20000);
    }
    // A node just made may refuse its first opens, as the driver finishes
    // setting the device up: tried again for a few seconds.
    static bool opens(TCustomComPort& port) {
        QString message;
        QElapsedTimer clock;
        clock.start();
        while (raisedCode([&] { port.Open(); }, &message) != 0) {
            if (clock.elapsed() > 5000) {
                std::printf("@@WAITED %lld ms for %s to open: %s\n",
                            static_cast<long long>(clock.elapsed()), qPrintable(port.Port()),
                            qPrintable(message));
                return false;
            }
            QTest::qWait(100);
        }
        return true;
    }
    void configure(TCustomComPort& port, const QString& adapter) {
        PortMap::map(portName, nodeOf(adapter));
        port.SetPort(portName);
        applyPrinterLineSettings(port);
    }

private slots:
    void initTestCase() {
        if (!Guest::inMachine())
            QSKIP(Guest::NotInMachine);
        acm = std::make_unique<Guest::UsbGadget>(Guest::UsbGadget::Acm);
        QVERIFY(acm->made() && plug(QStringLiteral("acm")));
        QVERIFY(Guest::waitFor(QStringLiteral("/dev/ttyGS0"), true, 20000));
        QVERIFY(Guest::waitFor(nodeOf(QStringLiteral("ftdi")), true, 20000));
    }
    void cleanupTestCase() { acm.reset(); }
    void init() { Guest::testStarts(); }
    // A test that failed half-way leaves the adapters plugged in for the next.
    void cleanup() {
        Guest::testEnds();
        for (const char* adapter : {"ftdi", "acm"})
            if (!QFileInfo::exists(nodeOf(adapter)))
                QVERIFY(plug(adapter));
    }

    // The ports "Portas do sistema" lists are the ttys with a device behind
    // them, whatever their drivers call them: not the gadget side, the
    // virtual consoles or a ttyS without a UART.
    void theKernelsSerialDevicesAreListed() {
        // The listing tests/connection/sysfs copies; the virtual consoles left out.
        const QRegularExpression console(QStringLiteral("^tty[0-9]+$"));
        for (const QString& tty :
             QDir(QStringLiteral("/sys/class/tty"))
                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            if (!console.match(tty).hasMatch() || tty == QLatin1String("tty0"))
                printSysfs(tty);
        QStringList listed;
        for (const SystemPort& port : SystemPorts::serial())
            listed << port.path + QLatin1Char(' ') + port.driver;
        QCOMPARE(listed,
                 (QStringList{"/dev/ttyUSB0 ftdi_sio", "/dev/ttyACM0 cdc_acm", "/dev/ttyS0 serial",
                              "/dev/ttyS1 serial", "/dev/ttyS2 serial", "/dev/ttyS3 serial"}));
    }

    void aBlockCrossesTheAdapterBothWays_data() {
        QTest::addColumn<QString>("adapter");
        QTest::newRow("FTDI") << "ftdi";
        QTest::newRow("ACM") << "acm";
    }
    void aBlockCrossesTheAdapterBothWays() {
        QFETCH(QString, adapter);
        GadgetEnd gadget;
        TComPort port;
        configure(port, adapter);
        int empties = 0;
        port.OnTxEmpty = [&](TCustomComPort*) { ++empties; };
        QVERIFY(opens(port));
        QVERIFY(port.Signals().Contains(csCTS));
        const QByteArray block = pattern(4096);
        QCOMPARE(port.Write(block.constData(), int(block.size())), int(block.size()));
        if (adapter == QLatin1String("acm")) {
            QCOMPARE(gadget.take(block.size()), block);
            gadget.give(block);
        }
        QByteArray back(block.size(), 0);
        QCOMPARE(port.Read(back.data(), int(back.size())), int(back.size()));
        QCOMPARE(back, block);
        QTRY_COMPARE_WITH_TIMEOUT(empties, 1, 10000);

        // An idle adapter lets its event thread sleep.
        QTest::qWait(300);
        const qint64 before = eventThreadWakeups();
        QTest::qWait(2000);
        const double perSecond = double(eventThreadWakeups() - before) / 2;
        std::printf("serial-idle-wakeups %s (per second): %.1f\n", qPrintable(adapter), perSecond);
        QCOMPARE(perSecond, 0.0);
    }

    // Pulled out while idle, in the middle of a read or of a write: one
    // lost-line report, the running transfer ended at once with the
    // device's I/O error, no other text, nothing spinning; the port closes
    // at once, and once the adapter is back, under its own name, it opens.
    void pullingTheAdapterOutIsOneLostLine_data() {
        QTest::addColumn<QString>("adapter");
        QTest::addColumn<QString>("during");
        for (const char* adapter : {"ftdi", "acm"})
            for (const char* during : {"idle", "read", "write"})
                QTest::addRow("%s, %s", adapter, during) << adapter << during;
    }
    void pullingTheAdapterOutIsOneLostLine() {
        QFETCH(QString, adapter);
        QFETCH(QString, during);
        auto gadget = std::make_unique<GadgetEnd>();
        TComPort port;
        configure(port, adapter);
        LossRecord record(port);
        ComPortAccess access(port, [&] { ++record.lineLost; });
        QVERIFY(opens(port));
        QElapsedTimer clock;
        clock.start();
        if (during == QLatin1String("idle"))
            unplug(adapter);
        else
            QVERIFY(endedByTheUnplug(access, adapter, during));
        // Far from the 12 s a read waits for a reply that never comes.
        QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(record.errors, QList<TComErrors>{TComErrors{ceIO}}, 10000);
        QCOMPARE(record.lineLost, during == QLatin1String("idle") ? 0 : 1);
        // What watched the line lets go of it as the driver ends its waits,
        // a few wake-ups; then nothing wakes the thread.
        QTest::qWait(300);
        const Guest::CpuWatch cpu;
        const qint64 wakeups = eventThreadWakeups();
        QTest::qWait(1000);
        QVERIFY2(cpu.spinning().isEmpty(), qPrintable(cpu.spinning()));
        QVERIFY(eventThreadWakeups() - wakeups <= 1);
        QCOMPARE(record.errors.size(), 1);
        QCOMPARE(record.shown, QStringList{});
        clock.restart();
        port.Close();
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));

        // Closed at once, the node comes back as it was, and the serial
        // dialog's watch sees it.
        gadget.reset();
        QVERIFY(Guest::waitFor(nodeOf(adapter), false, 20000));
        TDeviceReturn back;
        QSignalSpy present(&back, &TDeviceReturn::present);
        back.watch(nodeOf(adapter));
        QVERIFY(plug(adapter));
        QTRY_VERIFY_WITH_TIMEOUT(!present.isEmpty(), 5000);
        gadget = std::make_unique<GadgetEnd>();
        QVERIFY(opens(port));
        QCOMPARE(port.Write("back", 4), 4);
        if (adapter == QLatin1String("acm"))
            gadget->give(gadget->take(4));
        // qemu's adapter may still hand over echoes from before the unplug.
        QByteArray reply;
        for (char c; !reply.endsWith("back") && port.Read(&c, 1) == 1;)
            reply.append(c);
        QVERIFY(reply.endsWith("back"));
    }

    // Output the device does not take (the gadget side reads nothing, as a
    // printer holding CTS off): the write times out with what the driver
    // took counted as written; closing then takes no time, and a sender
    // that sends the rest afterwards prints every byte once.
    void aHeldWrite_data() {
        QTest::addColumn<bool>("closeAtOnce");
        QTest::newRow("then closed") << true;
        QTest::newRow("then sent on") << false;
    }
    void aHeldWrite() {
        QFETCH(bool, closeAtOnce);
        GadgetEnd gadget;
        TComPort port;
        configure(port, QStringLiteral("acm"));
        port.Timeouts().SetWriteTotalMultiplier(0);
        port.Timeouts().SetWriteTotalConstant(300);
        QVERIFY(opens(port));
        const QByteArray data = pattern(256 * 1024);
        int sent = port.Write(data.constData(), int(data.size()));
        QVERIFY2(sent > 0 && sent < data.size(), qPrintable(QString::number(sent)));
        if (closeAtOnce) {
            QElapsedTimer clock;
            clock.start();
            port.Close();
            std::printf("close with %d bytes pending on ttyACM0: %lld ms\n", sent,
                        static_cast<long long>(clock.elapsed()));
            // The kernel would wait 30 s.
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
            // What the close discarded leaves the gadget's side stuck until
            // it is plugged in again.
            QVERIFY(acm->unplug() && Guest::waitFor(nodeOf(QStringLiteral("acm")), false, 20000));
            QVERIFY(plug(QStringLiteral("acm")));
            return;
        }
        QByteArray arrived;
        std::thread reader([&] { arrived = gadget.take(data.size(), 5000); });
        for (int turn = 0; turn < 100 && sent < data.size(); ++turn)
            sent += port.Write(data.constData() + sent, int(data.size()) - sent);
        reader.join();
        QCOMPARE(sent, int(data.size()));
        QCOMPARE(arrived.size(), data.size());
        QVERIFY(arrived == data);
    }

private:
    // Runs the transfer the unplug is to end, the unplug asked for 200 ms
    // into it; whether it ended with the lost line. A write to the gadget is
    // held, as the gadget side reads nothing. qemu 7.2 crashes when its FTDI
    // adapter is deleted with bulk transfers in flight, so the write to it is
    // a short block, caught while it waits for the adapter's transmitter to
    // be reported empty (qemu never reports it: the wait lasts a FIFO's time).
    bool endedByTheUnplug(ComPortAccess& access, const QString& adapter, const QString& during) {
        const bool reading = during == QLatin1String("read");
        std::thread puller([this, adapter] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            unplug(adapter);
        });
        const QByteArray block = pattern(reading                           ? 9
                                         : adapter == QLatin1String("acm") ? 1 << 18
                                                                           : 64);
        QByteArray buffer(block.size(), 0);
        bool lost = false;
        QElapsedTimer clock;
        clock.start();
        while (!lost && clock.elapsed() < 15000) {
            try {
                if (reading)
                    access.Read(buffer.data(), int(buffer.size()));
                else
                    access.Write(block.constData(), int(block.size()));
            } catch (const Messages::AlreadyShown&) {
                lost = true;
            }
        }
        puller.join();
        return lost;
    }
};

QTEST_GUILESS_MAIN(KernelUsbSerialTest)
#include "tst_kernel_usbserial.moc"
