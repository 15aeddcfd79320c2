#include "link/SystemPorts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <tuple>

namespace SystemPorts {

namespace {

QString under(const QString& root, const QString& path) {
    return QDir::cleanPath(root + QLatin1Char('/') + path);
}

QString readLine(const QDir& dir, const char* file) {
    QFile f(dir.filePath(QLatin1String(file)));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readLine()).trimmed();
}

// The USB device's maker and product as it names them, with its ids.
QString usbIdentity(const QDir& usbDevice) {
    const QString ids = QStringLiteral("%1:%2").arg(readLine(usbDevice, "idVendor"),
                                                    readLine(usbDevice, "idProduct"));
    const QString name =
        QStringList{readLine(usbDevice, "manufacturer"), readLine(usbDevice, "product")}
            .join(QLatin1Char(' '))
            .trimmed();
    return name.isEmpty() ? QStringLiteral("USB %1").arg(ids)
                          : QStringLiteral("%1 (%2)").arg(name, ids);
}

struct Hardware {
    QString driver;
    QString usb;
};

// Walks from a class device up through its parents in /sys/devices: the
// nearest bound driver, and the USB device it hangs on, if any.
Hardware hardwareOf(const QString& classDevice, const QString& root) {
    const QString devices =
        QFileInfo(under(root, QStringLiteral("sys/devices"))).canonicalFilePath();
    QString path = QFileInfo(classDevice).canonicalFilePath();
    Hardware hw;
    while (!devices.isEmpty() && path.startsWith(devices + QLatin1Char('/'))) {
        const QDir dir(path);
        const QFileInfo driver(dir.filePath(QStringLiteral("driver")));
        // Newer kernels put generic "ctrl" and "port" devices of the
        // serial-base bus between a UART and its tty; the UART's driver says more.
        if (hw.driver.isEmpty() && driver.isSymLink() &&
            !driver.symLinkTarget().contains(QLatin1String("/bus/serial-base/")))
            hw.driver = QFileInfo(driver.symLinkTarget()).fileName();
        if (QFileInfo::exists(dir.filePath(QStringLiteral("idVendor")))) {
            hw.usb = usbIdentity(dir);
            break;
        }
        path = QFileInfo(path).path();
    }
    return hw;
}

struct KernelName {
    QString name;
    int group = 0;
    int number = 0;
};

// Names in a sysfs folder that match pattern (its groups: the prefix, the
// number), ordered by the prefix's place in prefixes, then by number.
QList<KernelName> kernelNames(const QStringList& folders, const QString& pattern,
                              const QStringList& prefixes) {
    const QRegularExpression re(pattern);
    QList<KernelName> names;
    for (const QString& folder : folders) {
        for (const QString& entry :
             QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            const auto m = re.match(entry);
            if (!m.hasMatch() || std::any_of(names.cbegin(), names.cend(),
                                             [&](const KernelName& k) { return k.name == entry; }))
                continue;
            names.append({entry, int(prefixes.indexOf(m.captured(1))), m.captured(2).toInt()});
        }
    }
    std::sort(names.begin(), names.end(), [](const KernelName& a, const KernelName& b) {
        return std::tie(a.group, a.number) < std::tie(b.group, b.number);
    });
    return names;
}

SystemPort serialPort(const QString& path, const QString& tty, const QString& root) {
    const Hardware hw = hardwareOf(under(root, QStringLiteral("sys/class/tty/") + tty), root);
    QString description = hw.usb;
    if (description.isEmpty())
        description =
            tty.startsWith(QLatin1String("ttyS")) ? QStringLiteral("porta serial (UART)") : tty;
    return {path, hw.driver, description};
}

// A ttyS name stands for every possible port; only those with a UART are real.
bool hasUart(const QString& root, const QString& tty) {
    const QString type =
        readLine(QDir(under(root, QStringLiteral("sys/class/tty/") + tty)), "type");
    return !type.isEmpty() && type != QLatin1String("0");
}

} // namespace

QList<SystemPort> serial(const QString& root) {
    QList<SystemPort> ports;
    const QDir byId(under(root, QStringLiteral("dev/serial/by-id")));
    for (const QFileInfo& link :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString tty =
            QFileInfo(link.isSymLink() ? link.symLinkTarget() : link.filePath()).fileName();
        SystemPort port = serialPort(link.filePath(), tty, root);
        port.description += QStringLiteral(" → %1").arg(tty);
        ports.append(port);
    }
    const QList<KernelName> names = kernelNames(
        {under(root, QStringLiteral("sys/class/tty"))}, QStringLiteral("^tty(USB|ACM|S)([0-9]+)$"),
        {QStringLiteral("USB"), QStringLiteral("ACM"), QStringLiteral("S")});
    for (const KernelName& k : names) {
        if (k.name.startsWith(QLatin1String("ttyS")) && !hasUart(root, k.name))
            continue;
        ports.append(serialPort(under(root, QStringLiteral("dev/") + k.name), k.name, root));
    }
    return ports;
}

QList<SystemPort> parallel(const QString& root) {
    const QString bus = under(root, QStringLiteral("sys/bus/parport/devices"));
    const QString ppdev = under(root, QStringLiteral("sys/class/ppdev"));
    QList<SystemPort> ports;
    for (const KernelName& k : kernelNames({bus, ppdev}, QStringLiteral("^(parport)([0-9]+)$"),
                                           {QStringLiteral("parport")})) {
        const QString sysDevice = QFileInfo::exists(bus + QLatin1Char('/') + k.name)
                                      ? bus + QLatin1Char('/') + k.name
                                      : ppdev + QLatin1Char('/') + k.name;
        const Hardware hw = hardwareOf(sysDevice, root);
        const QString path = under(root, QStringLiteral("dev/") + k.name);
        QString description = hw.usb.isEmpty() ? QStringLiteral("porta paralela") : hw.usb;
        if (!QFileInfo::exists(path))
            description += QStringLiteral(" (módulo ppdev não carregado)");
        ports.append({path, hw.driver, description});
    }
    return ports;
}

} // namespace SystemPorts
