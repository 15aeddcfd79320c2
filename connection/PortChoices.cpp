#include "connection/PortChoices.h"

#include "connection/ProgramSettings.h"
#include "link/comport/PortMap.h"
#include "link/portio/LptMap.h"

#include <QSet>
#include <QSettings>

namespace PortChoices {

namespace {

const QString SettingsGroup = QStringLiteral("ports");

QSet<QString>& commandLinePorts() {
    static QSet<QString> ports;
    return ports;
}

// The choices' group in the program's settings file.
class PortSettings : public QSettings {
public:
    PortSettings()
        : QSettings(QSettings::UserScope, ProgramSettings::Organisation,
                    ProgramSettings::Application) {
        beginGroup(SettingsGroup);
    }
};

void map(const QString& port, const QString& device) {
    if (isParallel(port))
        LptMap::map(port, device);
    else
        PortMap::map(port, device);
}

} // namespace

QStringList portNames() {
    return {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
            QStringLiteral("COM4"), QStringLiteral("LPT1"), QStringLiteral("LPT2")};
}

bool isParallel(const QString& port) {
    return port.startsWith(QLatin1String("LPT"));
}

QString defaultDevice(const QString& port) {
    if (isParallel(port))
        return LptMap::defaultDevice(port);
    return PortMap::defaultDevice(port);
}

QString currentDevice(const QString& port) {
    return isParallel(port) ? LptMap::device(port) : PortMap::device(port);
}

QMap<QString, QString> remembered() {
    PortSettings s;
    QMap<QString, QString> choices;
    for (const QString& port : portNames()) {
        const QString device = s.value(port).toString();
        if (!device.isEmpty())
            choices.insert(port, device);
    }
    return choices;
}

void applyAtStart(const Overrides& options) {
    const QMap<QString, QString> saved = remembered();
    commandLinePorts().clear();
    for (const QString& port : portNames()) {
        const QMap<QString, QString>& given =
            isParallel(port) ? options.lptDevices : options.comDevices;
        QString device = saved.value(port);
        if (given.contains(port))
            device = given.value(port);
        else if (options.virtualPrinter)
            device = QString::fromLatin1(PortMap::VirtualDevice);
        if (given.contains(port) || options.virtualPrinter)
            commandLinePorts().insert(port);
        if (!device.isEmpty())
            map(port, device);
    }
}

bool fromCommandLine(const QString& port) {
    return commandLinePorts().contains(port);
}

void choose(const QString& port, const QString& device) {
    // A parallel port's default follows the ports the kernel has, so it is
    // not pinned to what it is now.
    map(port, device.isEmpty() && !isParallel(port) ? defaultDevice(port) : device);
    commandLinePorts().remove(port);
    PortSettings s;
    if (device.isEmpty())
        s.remove(port);
    else
        s.setValue(port, device);
}

bool anyVirtual() {
    const QString virtualDevice = QString::fromLatin1(PortMap::VirtualDevice);
    for (const QString& port : portNames())
        if (currentDevice(port) == virtualDevice)
            return true;
    return false;
}

} // namespace PortChoices
