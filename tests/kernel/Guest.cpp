#include "kernel/Guest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <time.h>

namespace Guest {

namespace {
const char* const gadgets = "/sys/kernel/config/usb_gadget/";
QElapsedTimer testClock;

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
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

CpuWatch::CpuWatch() : cpu_(cpuSeconds()) {
    wall_.start();
}

QString CpuWatch::spinning() const {
    const double used = cpuSeconds() - cpu_;
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

} // namespace Guest
