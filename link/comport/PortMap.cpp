#include "link/comport/PortMap.h"

#include <QRegularExpression>

namespace PortMap {

namespace {
DeviceMap<VirtualLine>& registry() {
    static DeviceMap<VirtualLine> ports(&defaultDevice);
    return ports;
}
} // namespace

void map(const QString& portName, const QString& device) {
    registry().map(portName, device);
}

void reset() {
    registry().reset();
}

QString device(const QString& portName) {
    return registry().device(portName);
}

QString defaultDevice(const QString& portName) {
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]?)$"));
    const auto match = comName.match(portName);
    if (!match.hasMatch())
        return {};
    const int n = match.captured(1).toInt();
    if (n > 96)
        return {};
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}

VirtualLineProvider setVirtualLineProvider(VirtualLineProvider provider) {
    return registry().setProvider(std::move(provider));
}

std::shared_ptr<VirtualLine> virtualLine(const QString& portName) {
    return registry().virtualEnd(portName);
}

} // namespace PortMap
