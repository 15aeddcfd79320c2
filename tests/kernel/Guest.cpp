#include "kernel/Guest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <linux/usb/g_printer.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

namespace Guest {

namespace {
const char* const gadgets = "/sys/kernel/config/usb_gadget/";
QElapsedTimer testClock;

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
} // namespace

bool inMachine() {
    return qEnvironmentVariableIsSet("TELLUMO_KERNEL_TEST");
}

void askHost(const char* what) {
    std::printf("@@DO %s\n", what);
    std::fflush(stdout);
}

void expectLpt(int port, const QByteArray& bytes) {
    std::printf("@@EXPECT lpt%d %s\n", port, bytes.toHex().constData());
    std::fflush(stdout);
}

void expectCom2(const QByteArray& bytes) {
    std::printf("@@EXPECT com2 %s\n", bytes.toHex().constData());
    std::fflush(stdout);
}

bool loadModule(const QString& name, const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("/bin/insmod"),
                             QStringList{QStringLiteral("/modules/%1.ko").arg(name)} + arguments) ==
           0;
}

bool unloadModule(const QString& name) {
    return QProcess::execute(QStringLiteral("/bin/rmmod"), {name}) == 0;
}

// configfs takes each attribute in one write.
bool writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(text) == text.size())
        return true;
    std::printf("@@WRITE %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
    std::fflush(stdout);
    return false;
}

bool waitFor(const QString& path, bool present, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (QFileInfo::exists(path) != present) {
        if (clock.elapsed() > ms) {
            std::printf("@@WAITED %lld ms for %s to %s\n", static_cast<long long>(clock.elapsed()),
                        qPrintable(path), present ? "appear" : "go");
            return false;
        }
        QThread::msleep(10);
    }
    return true;
}

void testStarts() {
    testClock.start();
}

void testEnds() {
    if (QTest::currentTestFailed())
        std::printf("@@FAILED %s(%s) after %lld ms\n", QTest::currentTestFunction(),
                    QTest::currentDataTag() ? QTest::currentDataTag() : "",
                    static_cast<long long>(testClock.elapsed()));
    std::fflush(stdout);
}

CpuWatch::CpuWatch(Scope scope)
    : clock_(scope == Scope::Program ? CLOCK_PROCESS_CPUTIME_ID : CLOCK_THREAD_CPUTIME_ID),
      cpu_(cpuSeconds(clock_)) {
    wall_.start();
}

QString CpuWatch::spinning() const {
    const double used = cpuSeconds(clock_) - cpu_;
    const double passed = double(wall_.elapsed()) / 1000;
    if (used < 0.05 || used < passed / 2)
        return {};
    return QStringLiteral("spinning: %1 s of processor time in %2 s").arg(used).arg(passed);
}

UsbGadget::UsbGadget(Kind kind, const QByteArray& pnpString, const QByteArray& manufacturer,
                     const QByteArray& product)
    : kind_(kind),
      dir_(QLatin1String(gadgets) + QLatin1String(kind == Printer ? "printer" : "acm")) {
    const char* function = kind == Printer ? "functions/printer.usb0" : "functions/acm.usb0";
    made_ = QDir().mkpath(dir_) && writeFile(path("idVendor"), "0x0525") &&
            writeFile(path("idProduct"), kind == Printer ? "0xa4a8" : "0xa4a7") &&
            writeFile(path("bcdUSB"), "0x0200") && QDir().mkpath(path("strings/0x409")) &&
            writeFile(path("strings/0x409/manufacturer"), manufacturer) &&
            writeFile(path("strings/0x409/product"), product) &&
            writeFile(path("strings/0x409/serialnumber"), "0001") && QDir().mkpath(path(function));
    // The host side reads the device ID two characters short: pad it.
    if (made_ && kind == Printer)
        made_ = writeFile(path("functions/printer.usb0/pnp_string"), pnpString + "  ") &&
                writeFile(path("functions/printer.usb0/q_len"), "10");
    made_ = made_ && QDir().mkpath(path("configs/c.1/strings/0x409")) &&
            writeFile(path("configs/c.1/strings/0x409/configuration"), "c1") &&
            writeFile(path("configs/c.1/MaxPower"), "120") &&
            QFile::link(path(function), path("configs/c.1/") + QFileInfo(function).fileName());
}

UsbGadget::~UsbGadget() {
    unplug();
    const char* function = kind_ == Printer ? "functions/printer.usb0" : "functions/acm.usb0";
    QFile::remove(path("configs/c.1/") + QFileInfo(function).fileName());
    for (const char* d : {"configs/c.1/strings/0x409", "configs/c.1", function, "strings/0x409"})
        QDir().rmdir(path(d));
    QDir().rmdir(dir_);
}

bool UsbGadget::plug() {
    return made_ && writeFile(path("UDC"), kind_ == Printer ? "dummy_udc.0" : "dummy_udc.1");
}

bool UsbGadget::unplug() {
    return made_ && writeFile(path("UDC"), "\n");
}

QString UsbGadget::path(const char* relative) const {
    return dir_ + QLatin1Char('/') + QLatin1String(relative);
}

GadgetPrinter::GadgetPrinter(bool answers)
    : fd_(::open("/dev/g_printer0", O_RDWR | O_CLOEXEC)), answers_(answers) {
    thread_ = std::thread([this] { run(); });
}

GadgetPrinter::~GadgetPrinter() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
}

// The ioctl takes the status byte itself, not a pointer to it.
bool GadgetPrinter::setStatus(unsigned char status) {
    return ::ioctl(fd_, GADGET_SET_PRINTER_STATUS, static_cast<unsigned long>(status)) >= 0;
}

QByteArray GadgetPrinter::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void GadgetPrinter::run() {
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
        const QByteArray arrived(buffer, int(n));
        {
            std::lock_guard lock(mutex_);
            received_.append(arrived);
        }
        answer(arrived);
    }
}

// Requests may come split across reads: what is left of one waits for the rest.
void GadgetPrinter::answer(const QByteArray& arrived) {
    unanswered_.append(arrived);
    for (qsizetype at; (at = unanswered_.indexOf('\x1b')) >= 0;) {
        unanswered_.remove(0, at);
        const QByteArray request = unanswered_.left(3);
        QByteArray reply;
        if (request.startsWith("\x1bv") || request.startsWith("\x1bV"))
            reply = QByteArray("\x01") + GadgetStatusText;
        else if (request == "\x1bI1")
            reply = QByteArray("\x01") + GadgetModelText;
        else if (request == "\x1bI0")
            reply = QByteArray("\x01") + GadgetFirmwareText;
        else if (request.size() < 3 && (request.size() < 2 || request[1] == 'I'))
            return;
        unanswered_.remove(0, reply.size() == 9 ? 2 : reply.isEmpty() ? 1 : 3);
        if (answers_ && !reply.isEmpty()) [[maybe_unused]]
            const auto n = ::write(fd_, reply.constData(), size_t(reply.size()));
    }
    unanswered_.clear();
}

} // namespace Guest
