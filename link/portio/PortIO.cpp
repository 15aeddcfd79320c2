#include "link/portio/PortIO.h"

#include "link/portio/LptMap.h"
#include "link/portio/PpdevParallelPort.h"
#include "link/portio/VirtualParallelPort.h"

#include <QStringList>

namespace {

std::shared_ptr<ParallelPortBackend> openLpt(const QString& name, QString* error) {
    const QString device = LptMap::device(name);
    if (device == QLatin1String(LptMap::VirtualDevice)) {
        auto port = LptMap::virtualPort(name);
        if (!port)
            *error = QStringLiteral("%1: the virtual printer is not running").arg(name);
        return port;
    }
    if (device.isEmpty()) {
        *error = QStringLiteral("%1: no device is assigned").arg(name);
        return nullptr;
    }
    return PpdevParallelPort::open(device, error);
}

} // namespace

TPortIO::TPortIO(QObject* parent) : QObject(parent) {}

TPortIO::~TPortIO() {
    CloseDriver();
}

void TPortIO::OpenDriver() {
    if (active_)
        return;
    QStringList failures;
    for (Slot& slot : slots_) {
        QString error;
        slot.port = openLpt(QLatin1String(slot.name), &error);
        if (slot.port)
            active_ = true;
        else
            failures.append(error);
    }
    if (!failures.isEmpty())
        lastError_ = failures.join(QStringLiteral("; "));
}

bool TPortIO::CloseDriver() {
    if (!active_)
        return false;
    for (Slot& slot : slots_)
        slot.port.reset();
    active_ = false;
    return true;
}

ParallelPortBackend* TPortIO::portFor(uint16_t address, uint16_t* offset) const {
    for (const Slot& slot : slots_) {
        if (slot.port && address >= slot.base && address <= slot.base + 2) {
            *offset = address - slot.base;
            return slot.port.get();
        }
    }
    return nullptr;
}

uint8_t TPortIO::GetPortByte(uint16_t address) {
    uint16_t offset = 0;
    ParallelPortBackend* port = portFor(address, &offset);
    return port ? port->read(static_cast<ParallelPortBackend::Register>(offset)) : 0xFF;
}

void TPortIO::SetPortByte(uint16_t address, uint8_t value) {
    uint16_t offset = 0;
    if (ParallelPortBackend* port = portFor(address, &offset))
        port->write(static_cast<ParallelPortBackend::Register>(offset), value);
}

void TPortIO::PortControl(std::span<TPortControlRec> operations) {
    for (TPortControlRec& op : operations) {
        if (op.Write)
            SetPortByte(op.Port, op.Value);
        else
            op.Value = GetPortByte(op.Port);
    }
}

void TPortIO::PortCommand(std::span<TPortCommandRec> operations) {
    for (TPortCommandRec& op : operations) {
        const int bytes = static_cast<int>(op.Width);
        if (op.Write) {
            for (int i = 0; i < bytes; ++i)
                SetPortByte(static_cast<uint16_t>(op.Port + i),
                            static_cast<uint8_t>(op.Value >> (8 * i)));
        } else {
            uint32_t value = 0;
            for (int i = 0; i < bytes; ++i)
                value |= uint32_t{GetPortByte(static_cast<uint16_t>(op.Port + i))} << (8 * i);
            op.Value = value;
        }
    }
}

bool TPortIO::HasPort(uint16_t address) const {
    uint16_t offset = 0;
    return portFor(address, &offset) != nullptr;
}
