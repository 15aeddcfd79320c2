#include "link/portio/LptMap.h"

#include "link/portio/KernelPorts.h"
#include "link/portio/VirtualParallelPort.h"

#include <QDir>
#include <algorithm>
#include <array>
#include <utility>

namespace LptMap {

namespace {

DeviceMap<VirtualParallelPort>& registry() {
    static DeviceMap<VirtualParallelPort> ports(
        [](const QString& lptName) { return defaultDevice(lptName); });
    return ports;
}

// LPT1, LPT2 and their legacy bases.
constexpr std::array<uint16_t, 2> LegacyBases{0x378, 0x278};

int indexOf(const QString& lptName) {
    if (lptName == QLatin1String("LPT1"))
        return 0;
    if (lptName == QLatin1String("LPT2"))
        return 1;
    return -1;
}

// The node a program opens for parportN: lp's while lp is registered on it,
// as it keeps ppdev out.
QString nodeOf(int port, const QString& root) {
    if (KernelPorts::drivers(port, root).contains(QLatin1String("lp"))) {
        if (QString lp = KernelPorts::lpNode(port, root); !lp.isEmpty())
            return lp;
    }
    return QDir::cleanPath(root + QStringLiteral("/dev/parport%1").arg(port));
}

// A parportN the kernel does not have, from N = index up, so the operator is
// told the port is missing rather than led to another one.
QString missingNode(int index, const QList<KernelPorts::Parport>& ports, const QString& root) {
    int n = index;
    while (std::any_of(ports.cbegin(), ports.cend(),
                       [n](const KernelPorts::Parport& p) { return p.number == n; }))
        ++n;
    return QDir::cleanPath(root + QStringLiteral("/dev/parport%1").arg(n));
}

} // namespace

void map(const QString& lptName, const QString& device) {
    registry().map(lptName, device);
}

void reset() {
    registry().reset();
}

QString device(const QString& lptName) {
    return registry().device(lptName);
}

QString defaultDevice(const QString& lptName, const QString& root) {
    const int index = indexOf(lptName);
    if (index < 0)
        return {};
    const QList<KernelPorts::Parport> ports = KernelPorts::parports(root);
    std::array<QString, 2> nodes;
    QStringList others;
    for (const KernelPorts::Parport& port : ports) {
        const auto legacy = std::find(LegacyBases.cbegin(), LegacyBases.cend(), port.base);
        if (legacy != LegacyBases.cend())
            nodes[size_t(legacy - LegacyBases.cbegin())] = nodeOf(port.number, root);
        else
            others.append(nodeOf(port.number, root));
    }
    others += KernelPorts::usbPrinters(root);
    for (QString& node : nodes) {
        if (node.isEmpty() && !others.isEmpty())
            node = others.takeFirst();
    }
    return nodes[size_t(index)].isEmpty() ? missingNode(index, ports, root) : nodes[size_t(index)];
}

VirtualPortProvider setVirtualPortProvider(VirtualPortProvider provider) {
    return registry().setProvider(std::move(provider));
}

std::shared_ptr<VirtualParallelPort> virtualPort(const QString& lptName) {
    return registry().virtualEnd(lptName);
}

} // namespace LptMap
