#include "link/comport/PortMap.h"

#include <QHash>
#include <QRegularExpression>

#include <utility>

namespace PortMap {

namespace {
QHash<QString, QString>& mappings() {
    static QHash<QString, QString> table;
    return table;
}
VirtualLineProvider& provider() {
    static VirtualLineProvider current;
    return current;
}
} // namespace

void map(const QString& portName, const QString& device) {
    mappings().insert(portName, device);
}

void reset() {
    mappings().clear();
}

QString device(const QString& portName) {
    if (auto it = mappings().constFind(portName); it != mappings().constEnd())
        return it.value();
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]?)$"));
    const auto match = comName.match(portName);
    if (!match.hasMatch())
        return {};
    const int n = match.captured(1).toInt();
    if (n > 96)
        return {};
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}

VirtualLineProvider setVirtualLineProvider(VirtualLineProvider next) {
    return std::exchange(provider(), std::move(next));
}

std::shared_ptr<VirtualLine> virtualLine(const QString& portName) {
    return provider() ? provider()(portName) : nullptr;
}

} // namespace PortMap
