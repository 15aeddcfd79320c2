// The parallel port component on a real Linux kernel, inside the virtual
// machine scripts/kernel-test boots: parport_pc with ppdev (the 0x278 port
// numbered first), the lp driver beside it as CUPS loads it, and a USB
// printer on the kernel's gadget loopback (dummy_hcd with a printer function,
// usblp on the host side). What LPT1 and LPT2 strobe reaches files on the
// host, which checks them against what this program announced. Anywhere else
// the test skips.
#include "kernel/Guest.h"

#include "app/FileSend.h"
#include "app/LoadedFile.h"
#include "connection/OpenFailure.h"
#include "connection/SystemPorts.h"
#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/PortIOAccess.h"
#include "link/Primitives.h"
#include "link/portio/LptMap.h"
#include "link/portio/PortIO.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <linux/usb/g_printer.h>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

constexpr uint16_t Lpt1Status = TPortIO::Lpt1Base + 1;
constexpr uint16_t Lpt2Status = TPortIO::Lpt2Base + 1;
// What the idle port reads: not busy, acknowledge high, paper, selected, no error.
constexpr uint8_t ReadyStatus = 0xD8;
const QByteArray PrinterId = "MFG:Korvexa;MDL:Dual USB;CMD:ESC/POS;CLS:PRINTER;";

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

qsizetype openDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

QByteArray everyByte(int times = 1) {
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(char(b));
    return bytes.repeated(times);
}

void strobe(const QByteArray& bytes) {
    for (const char b : bytes)
        ParallelWriteByte(uint8_t(b));
}

// The printer's side of the USB gadget: reads what reaches /dev/g_printer0 on
// a thread of its own, unless told to stop reading, and sets the status the
// host side reads.
class GadgetPrinter {
public:
    GadgetPrinter() : fd_(::open("/dev/g_printer0", O_RDWR | O_CLOEXEC)) {
        thread_ = std::thread([this] { run(); });
    }
    ~GadgetPrinter() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    bool opened() const { return fd_ >= 0; }
    void setReading(bool on) { reading_ = on; }
    // The ioctl takes the status byte itself, not a pointer to it.
    bool setStatus(unsigned char status) {
        return ::ioctl(fd_, GADGET_SET_PRINTER_STATUS, static_cast<unsigned long>(status)) >= 0;
    }
    QByteArray received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void run() {
        char buffer[512];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (!reading_ || ::poll(&p, 1, 20) <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            std::lock_guard lock(mutex_);
            received_.append(buffer, int(n));
        }
    }

    const int fd_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> reading_{true};
    mutable std::mutex mutex_;
    QByteArray received_;
    std::thread thread_;
};

} // namespace

class KernelParallelTest : public QObject {
    Q_OBJECT

    TPortIO portIO;
    PortIOAccess access{portIO};

    // Connects the link to one port the way the parallel dialog does.
    bool connectTo(uint16_t base) {
        portIO.BasePort = base;
        portIO.OpenDriver();
        LinkState.LptBasePort = base;
        LinkState.ParallelConnected = portIO.ActiveHW();
        return portIO.ActiveHW();
    }

private slots:
    void initTestCase() {
        if (!Guest::inMachine())
            QSKIP("runs only inside the virtual machine of scripts/kernel-test");
        LinkDevices.PortIO1 = &access;
        LinkDevices.VerificaBusyChecked = [] { return true; };
    }
    void cleanup() {
        portIO.CloseDriver();
        LinkState = TLinkState{};
        LptMap::reset();
    }
    void cleanupTestCase() { LinkDevices = TLinkDevices{}; }

    void theNamesFollowTheBaseAddressesNotTheKernelsNumbers() {
        QCOMPARE(LptMap::device(QStringLiteral("LPT1")), QStringLiteral("/dev/parport1"));
        QCOMPARE(LptMap::device(QStringLiteral("LPT2")), QStringLiteral("/dev/parport0"));
        const QList<SystemPort> expected{
            {"/dev/parport0", "parport_pc", "porta paralela em 0x278, LPT2"},
            {"/dev/parport1", "parport_pc", "porta paralela em 0x378, LPT1"},
        };
        QCOMPARE(SystemPorts::parallel(), expected);
    }

    void lpt1StrobesThroughPpdevAndLeavesLpt2Free() {
        QVERIFY(connectTo(TPortIO::Lpt1Base));
        const QByteArray bytes = everyByte();
        Guest::expectLpt(1, bytes);
        strobe(bytes);
        QTRY_COMPARE(portIO.GetPortByte(Lpt1Status), ReadyStatus);
        PollParallelBusy();
        PollParallelFault();
        QVERIFY(!LinkState.PrinterBusy && !LinkState.PrinterFault);

        // Another program cannot have LPT1, and is told nothing more than that.
        TPortIO other;
        const qsizetype descriptors = openDescriptors();
        other.OpenDriver();
        QCOMPARE(openDescriptors(), descriptors);
        QCOMPARE(other.LastError(), QStringLiteral("claim /dev/parport1: held by another "
                                                   "program or by another driver"));
        QCOMPARE(OpenFailure::parallelCause(QStringLiteral("/dev/parport1")).text, QString());
        // LPT2 is free for it.
        other.BasePort = TPortIO::Lpt2Base;
        other.OpenDriver();
        QVERIFY2(other.ActiveHW(), qPrintable(other.LastError()));
        PortIOAccess otherAccess(other);
        LinkDevices.PortIO1 = &otherAccess;
        LinkState.LptBasePort = TPortIO::Lpt2Base;
        Guest::expectLpt(2, "LPT2");
        strobe("LPT2");
        LinkDevices.PortIO1 = &access;
    }

    // What a machine with CUPS has: lp registered on both ports, idle.
    void besideLpLpt1PrintsThroughLpsNode() {
        QVERIFY(Guest::loadModule(QStringLiteral("lp")));
        const auto unload = qScopeGuard([] { Guest::unloadModule(QStringLiteral("lp")); });
        QCOMPARE(LptMap::device(QStringLiteral("LPT1")), QStringLiteral("/dev/lp1"));
        QCOMPARE(SystemPorts::parallel().mid(2),
                 (QList<SystemPort>{
                     {"/dev/lp0", "lp", "porta paralela em 0x278, pelo driver lp, LPT2"},
                     {"/dev/lp1", "lp", "porta paralela em 0x378, pelo driver lp, LPT1"},
                 }));
        // A port chosen by its ppdev node before lp came still connects.
        LptMap::map(QStringLiteral("LPT1"), QStringLiteral("/dev/parport1"));
        QVERIFY2(connectTo(TPortIO::Lpt1Base), qPrintable(portIO.LastError()));
        const QByteArray bytes = everyByte();
        Guest::expectLpt(1, bytes);
        strobe(bytes);
        // The status register, as LPGETSTATUS reads it once lp has strobed the last byte.
        QTRY_COMPARE(portIO.GetPortByte(Lpt1Status), ReadyStatus);

        // lp's node is one program's at a time: the refusal says so.
        TPortIO other;
        const qsizetype descriptors = openDescriptors();
        other.OpenDriver();
        QVERIFY(!other.ActiveHW());
        QCOMPARE(openDescriptors(), descriptors);
        QCOMPARE(OpenFailure::parallelCause(LptMap::device(QStringLiteral("LPT1"))).text,
                 QStringLiteral("/dev/lp1: em uso por outro programa, como o CUPS imprimindo: "
                                "aguarde o fim da impressão"));
        portIO.CloseDriver();
    }

    void aUsbPrinterPrintsReportsItsStatusAndItsLoss() {
        Guest::UsbGadget gadget(Guest::UsbGadget::Printer, PrinterId);
        QVERIFY(gadget.plug());
        QVERIFY(Guest::waitFor(QStringLiteral("/dev/usb/lp0"), true, 5000));
        QVERIFY(SystemPorts::parallel().contains(
            SystemPort{"/dev/usb/lp0", "usblp", "impressora USB Korvexa Dual USB (0525:a4a8)"}));
        LptMap::map(QStringLiteral("LPT2"), QStringLiteral("/dev/usb/lp0"));
        auto printer = std::make_unique<GadgetPrinter>();
        QVERIFY(printer->opened());
        QVERIFY2(connectTo(TPortIO::Lpt2Base), qPrintable(portIO.LastError()));

        const QByteArray bytes = everyByte();
        strobe(bytes);
        QTRY_COMPARE(printer->received(), bytes);
        QCOMPARE(portIO.GetPortByte(Lpt2Status), ReadyStatus);

        // Paper out, off-line and error each light the fault lamp.
        for (const auto& [status, fault] : {std::pair{0x38, true}, std::pair{0x08, true},
                                            std::pair{0x10, true}, std::pair{0x18, false}}) {
            QVERIFY(printer->setStatus(uint8_t(status)));
            PollParallelFault();
            QVERIFY2(LinkState.PrinterFault == fault, qPrintable(QString::number(status, 16)));
        }

        sendWhileThePrinterStopsReading(*printer, bytes);
        unplugAndComeBack(gadget, printer);
    }

private:
    // The file send waits on the busy line while the printer takes nothing,
    // with the event loop running, and finishes once it reads again.
    void sendWhileThePrinterStopsReading(GadgetPrinter& printer, const QByteArray& before) {
        const QByteArray file = everyByte(2).left(200);
        std::copy(file.cbegin(), file.cend(), LoadedFile.FileBuffer.begin());
        LoadedFile.FileSize = int(file.size());
        LoadedFile.FileLoaded = true;
        printer.setReading(false);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        bool busySeen = false;
        QTimer::singleShot(600, [&] {
            busySeen = LinkState.PrinterBusy;
            printer.setReading(true);
        });
        QElapsedTimer clock;
        clock.start();
        SendLoadedFile();
        QVERIFY(busySeen);
        QVERIFY2(clock.elapsed() >= 600, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(ticks >= 30, qPrintable(QString::number(ticks)));
        QTRY_COMPARE(printer.received(), before + file);
        PollParallelBusy();
        QVERIFY(!LinkState.PrinterBusy);
    }

    // A pulled cable is found once, by the next access, and costs nothing after.
    void unplugAndComeBack(Guest::UsbGadget& gadget, std::unique_ptr<GadgetPrinter>& printer) {
        QSignalSpy lost(&portIO, &TPortIO::deviceLost);
        QVERIFY(gadget.unplug());
        QVERIFY(Guest::waitFor(QStringLiteral("/dev/usb/lp0"), false, 5000));
        const double cpu = cpuSeconds();
        for (int tick = 0; tick < 10; ++tick) {
            Timer1Timer();
            ParallelWriteByte('x');
            QTest::qWait(50);
        }
        QCOMPARE(lost.size(), 1);
        QVERIFY(portIO.Lost());
        QVERIFY(LinkState.PrinterFault);
        QVERIFY2(cpuSeconds() - cpu < 0.3, "a lost printer is still being driven");
        portIO.CloseDriver();
        // The gadget's node must be closed before the device comes back.
        printer.reset();
        QVERIFY(gadget.plug());
        QVERIFY(Guest::waitFor(QStringLiteral("/dev/usb/lp0"), true, 5000));
        printer = std::make_unique<GadgetPrinter>();
        QVERIFY2(connectTo(TPortIO::Lpt2Base), qPrintable(portIO.LastError()));
        strobe("back");
        QTRY_COMPARE(printer->received(), QByteArray("back"));
        portIO.CloseDriver();
        printer.reset();
    }
};

QTEST_GUILESS_MAIN(KernelParallelTest)
#include "tst_kernel_parallel.moc"
