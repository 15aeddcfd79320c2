#include "link/portio/KernelPorts.h"

#include "link/printernode/PrinterNode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <sys/sysmacros.h>

namespace KernelPorts {

namespace {

constexpr unsigned LpMajor = 6;
constexpr unsigned PpdevMajor = 99;

QString under(const QString& root, const QString& path) {
    return QDir::cleanPath(root + QLatin1Char('/') + path);
}

// The numbers N of the entries named prefix + N in a folder, in order.
QList<int> numbered(const QString& folder, const QString& prefix) {
    const QRegularExpression name(QStringLiteral("^%1([0-9]+)$").arg(prefix));
    QList<int> numbers;
    for (const QString& entry :
         QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (const auto m = name.match(entry); m.hasMatch())
            numbers.append(m.captured(1).toInt());
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// base-addr holds the base and the ECP base, in decimal: "888\t1912".
uint16_t baseOf(const QString& root, int port) {
    QFile file(under(root, QStringLiteral("proc/sys/dev/parport/parport%1/base-addr").arg(port)));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    return static_cast<uint16_t>(fields.value(0).toUInt());
}

} // namespace

QList<Parport> parports(const QString& root) {
    QList<Parport> ports;
    for (const int n :
         numbered(under(root, QStringLiteral("proc/sys/dev/parport")), QStringLiteral("parport")))
        ports.append({n, baseOf(root, n)});
    return ports;
}

QStringList drivers(int port, const QString& root) {
    QStringList names;
    for (const QString& entry :
         QDir(under(root, QStringLiteral("proc/sys/dev/parport/parport%1/devices").arg(port)))
             .entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!entry.startsWith(QLatin1String("ppdev")))
            names.append(entry);
    }
    return names;
}

// lp names its device on the parport bus lp.K after its own minor K.
QString lpNode(int port, const QString& root) {
    const QDir bus(under(root, QStringLiteral("sys/bus/parport/devices")));
    for (const int k : numbered(bus.path(), QStringLiteral("lp\\."))) {
        const QString target =
            QFileInfo(bus.filePath(QStringLiteral("lp.%1").arg(k))).symLinkTarget();
        if (QFileInfo(QFileInfo(target).path()).fileName() == QStringLiteral("parport%1").arg(port))
            return under(root, QStringLiteral("dev/lp%1").arg(k));
    }
    return {};
}

QStringList usbPrinters(const QString& root) {
    QStringList nodes;
    for (const int n :
         numbered(under(root, QStringLiteral("sys/class/usbmisc")), QStringLiteral("lp")))
        nodes.append(under(root, QStringLiteral("dev/usb/lp%1").arg(n)));
    return nodes;
}

Kind kindOf(dev_t device, const QString& root) {
    switch (::major(device)) {
    case PpdevMajor:
        return Kind::Ppdev;
    case LpMajor:
        return Kind::Lp;
    default:
        return PrinterNode::isUsbPrinter(device, root) ? Kind::UsbPrinter : Kind::None;
    }
}

} // namespace KernelPorts
