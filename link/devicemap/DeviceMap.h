#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

// A process-wide map from port names to the devices they open. A name maps to
// a device path, or to "virtual" for the end a registered provider hands out;
// an unmapped name opens its default device. The serial side (PortMap) and the
// parallel side (LptMap) each keep one, with their own defaults. Used on the
// GUI thread only.
template <class VirtualEnd> class DeviceMap {
public:
    static constexpr const char* VirtualDevice = "virtual";
    // The device of an unmapped name; empty for a name the side does not have.
    using DefaultDevice = QString (*)(const QString& name);
    // Hands out the virtual end a name mapped to "virtual" opens. It may return
    // null (the open then fails as for a missing device).
    using Provider = std::function<std::shared_ptr<VirtualEnd>(const QString& name)>;

    explicit DeviceMap(DefaultDevice defaults) : defaults_(defaults) {}

    // An empty device forgets the mapping: the name goes back to its default.
    void map(const QString& name, const QString& device) {
        if (device.isEmpty())
            mappings_.remove(name);
        else
            mappings_.insert(name, device);
    }
    // Forgets every mapping, back to the defaults. The provider stays.
    void reset() { mappings_.clear(); }
    QString device(const QString& name) const {
        if (auto it = mappings_.constFind(name); it != mappings_.constEnd())
            return it.value();
        return defaults_(name);
    }
    // Returns the previous provider; an empty one removes it.
    Provider setProvider(Provider next) { return std::exchange(provider_, std::move(next)); }
    // The provider's end for a name, or null when none is registered.
    std::shared_ptr<VirtualEnd> virtualEnd(const QString& name) const {
        return provider_ ? provider_(name) : nullptr;
    }

private:
    DefaultDevice defaults_;
    QHash<QString, QString> mappings_;
    Provider provider_;
};
