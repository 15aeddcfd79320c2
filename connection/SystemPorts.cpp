#include "connection/SystemPorts.h"

#include "link/portio/KernelPorts.h"
#include "link/portio/LptMap.h"

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

QString portPlace(const KernelPorts::Parport& port) {
    return port.base ? QStringLiteral("porta paralela em 0x%1").arg(port.base, 0, 16)
                     : QStringLiteral("porta paralela parport%1").arg(port.number);
}

// The card or chip a parport is on, from the device its ppdev or lp node
// hangs on: a PNP id, a PCI card's ids, a USB adapter's maker and product.
QString parportHardware(const QString& classDevice, const Hardware& hw) {
    if (!hw.usb.isEmpty())
        return hw.usb;
    const QString hardware = QFileInfo(classDevice + QStringLiteral("/device")).canonicalFilePath();
    if (hardware.isEmpty())
        return {};
    const QDir device(hardware);
    if (const QString pnp = readLine(device, "id"); !pnp.isEmpty())
        return pnp;
    const QString vendor = readLine(device, "vendor");
    if (!vendor.isEmpty())
        return QStringLiteral("placa PCI %1:%2")
            .arg(vendor.mid(2), readLine(device, "device").mid(2));
    return {};
}

// The class device the port's hardware is found from: ppdev's, or lp's
// while ppdev is not loaded; the parport bus itself has no parent device.
QString parportClassDevice(const KernelPorts::Parport& port, const QString& root) {
    const QString ppdev = under(root, QStringLiteral("sys/class/ppdev/parport%1").arg(port.number));
    if (QFileInfo::exists(ppdev))
        return ppdev;
    const QString lp = KernelPorts::lpNode(port.number, root);
    return lp.isEmpty()
               ? QString()
               : under(root, QStringLiteral("sys/class/printer/") + QFileInfo(lp).fileName());
}

SystemPort parportOf(const KernelPorts::Parport& port, const QString& root) {
    const QString path = under(root, QStringLiteral("dev/parport%1").arg(port.number));
    const QString classDevice = parportClassDevice(port, root);
    const Hardware hw = classDevice.isEmpty() ? Hardware{} : hardwareOf(classDevice, root);
    QString description = portPlace(port);
    if (const QString hardware =
            classDevice.isEmpty() ? QString() : parportHardware(classDevice, hw);
        !hardware.isEmpty())
        description += QStringLiteral(" (%1)").arg(hardware);
    if (!QFileInfo::exists(path))
        description += QStringLiteral(", módulo ppdev não carregado");
    return {path, hw.driver, description};
}

// Maker and model as the printer gives them in its IEEE 1284 device ID
// ("MFG:Korvexa;MDL:Dual USB;CMD:ESC/POS;").
QString ieee1284Name(const QString& id) {
    QString maker, model;
    for (const QString& field : id.split(QLatin1Char(';'))) {
        const QString key = field.section(QLatin1Char(':'), 0, 0).trimmed();
        const QString value = field.section(QLatin1Char(':'), 1).trimmed();
        if (key == QLatin1String("MFG") || key == QLatin1String("MANUFACTURER"))
            maker = value;
        else if (key == QLatin1String("MDL") || key == QLatin1String("MODEL"))
            model = value;
    }
    return QStringList{maker, model}.join(QLatin1Char(' ')).trimmed();
}

SystemPort usbPrinterOf(const QString& node, const QString& root) {
    const QString classDevice =
        under(root, QStringLiteral("sys/class/usbmisc/") + QFileInfo(node).fileName());
    const Hardware hw = hardwareOf(classDevice, root);
    const QDir usbInterface(classDevice + QStringLiteral("/device"));
    const QString name = ieee1284Name(readLine(usbInterface, "ieee1284_id"));
    if (name.isEmpty())
        return {node, hw.driver, QStringLiteral("impressora USB %1").arg(hw.usb)};
    const QDir usb(usbInterface.filePath(QStringLiteral("..")));
    return {node, hw.driver,
            QStringLiteral("impressora USB %1 (%2:%3)")
                .arg(name, readLine(usb, "idVendor"), readLine(usb, "idProduct"))};
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
    const QString lpt1 = LptMap::defaultDevice(QStringLiteral("LPT1"), root);
    const QString lpt2 = LptMap::defaultDevice(QStringLiteral("LPT2"), root);
    QList<SystemPort> ports;
    auto add = [&](SystemPort port) {
        if (port.path == lpt1 || port.path == lpt2)
            port.description += QStringLiteral(", %1").arg(port.path == lpt1 ? "LPT1" : "LPT2");
        ports.append(port);
    };
    const QList<KernelPorts::Parport> parports = KernelPorts::parports(root);
    for (const KernelPorts::Parport& p : parports)
        add(parportOf(p, root));
    for (const KernelPorts::Parport& p : parports) {
        if (const QString node = KernelPorts::lpNode(p.number, root); !node.isEmpty())
            add({node, QStringLiteral("lp"),
                 QStringLiteral("%1, pelo driver lp").arg(portPlace(p))});
    }
    for (const SystemPort& printer : usbPrinters(root))
        add(printer);
    return ports;
}

QList<SystemPort> usbPrinters(const QString& root) {
    QList<SystemPort> printers;
    for (const QString& node : KernelPorts::usbPrinters(root))
        printers.append(usbPrinterOf(node, root));
    return printers;
}

} // namespace SystemPorts
