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
    const QString classDevice = under(root, QStringLiteral("sys/class/tty/") + tty);
    const Hardware hw = hardwareOf(classDevice, root);
    QString description = hw.usb;
    if (description.isEmpty())
        description = QFileInfo::exists(classDevice + QStringLiteral("/type"))
                          ? QStringLiteral("porta serial (UART)")
                          : tty;
    return {path, hw.driver, description};
}

// A tty is a port when a device stands behind it; the serial core also
// registers a ttyS for every port it could have, and those without a UART
// say so with their type 0.
bool isPort(const QString& root, const QString& tty) {
    const QDir classDevice(under(root, QStringLiteral("sys/class/tty/") + tty));
    return QFileInfo::exists(classDevice.filePath(QStringLiteral("device"))) &&
           readLine(classDevice, "type") != QLatin1String("0");
}

struct TtyName {
    QString name;
    int group = 0; // USB adapters, then ACM, then the other drivers' names, the UARTs last
    QString prefix;
    int number = -1;
};

QList<TtyName> portTtys(const QString& root) {
    static const QRegularExpression numbered(QStringLiteral("^(.*?)([0-9]*)$"));
    QList<TtyName> ttys;
    for (const QString& tty :
         QDir(under(root, QStringLiteral("sys/class/tty")))
             .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (!isPort(root, tty))
            continue;
        const auto m = numbered.match(tty);
        const QString prefix = m.captured(1);
        const int group = prefix == QLatin1String("ttyUSB")   ? 0
                          : prefix == QLatin1String("ttyACM") ? 1
                          : prefix == QLatin1String("ttyS")   ? 3
                                                              : 2;
        ttys.append({tty, group, prefix, m.captured(2).isEmpty() ? -1 : m.captured(2).toInt()});
    }
    std::sort(ttys.begin(), ttys.end(), [](const TtyName& a, const TtyName& b) {
        return std::tie(a.group, a.prefix, a.number) < std::tie(b.group, b.prefix, b.number);
    });
    return ttys;
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
    for (const TtyName& tty : portTtys(root))
        ports.append(serialPort(under(root, QStringLiteral("dev/") + tty.name), tty.name, root));
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
