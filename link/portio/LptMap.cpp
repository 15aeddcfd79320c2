#include "link/portio/LptMap.h"

#include "link/portio/VirtualParallelPort.h"

#include <QHash>
#include <utility>

namespace LptMap {

namespace {
QHash<QString, QString>& mappings() {
    static QHash<QString, QString> table;
    return table;
}

VirtualPortProvider& provider() {
    static VirtualPortProvider installed;
    return installed;
}
} // namespace

void map(const QString& lptName, const QString& device) {
    mappings().insert(lptName, device);
}

void reset() {
    mappings().clear();
}

QString device(const QString& lptName) {
    if (auto it = mappings().constFind(lptName); it != mappings().constEnd())
        return it.value();
    if (lptName == QLatin1String("LPT1"))
        return QStringLiteral("/dev/parport0");
    if (lptName == QLatin1String("LPT2"))
        return QStringLiteral("/dev/parport1");
    return {};
}

VirtualPortProvider setVirtualPortProvider(VirtualPortProvider newProvider) {
    return std::exchange(provider(), std::move(newProvider));
}

std::shared_ptr<VirtualParallelPort> virtualPort(const QString& lptName) {
    return provider() ? provider()(lptName) : nullptr;
}

} // namespace LptMap
