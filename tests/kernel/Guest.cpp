#include "kernel/Guest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cstdio>

namespace Guest {

namespace {
const char* const gadgets = "/sys/kernel/config/usb_gadget/";
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
    return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
           file.write(text) == text.size();
}

bool waitFor(const QString& path, bool present, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (QFileInfo::exists(path) != present) {
        if (clock.elapsed() > ms)
            return false;
        QThread::msleep(10);
    }
    return true;
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
