#include "link/portio/VirtualParallelPort.h"

uint8_t VirtualParallelPort::read(Register reg) {
    std::lock_guard lock(mutex_);
    const uint8_t value = pick(reg, data_, status_, control_);
    if (recording_)
        accesses_.append({reg, false, value});
    return value;
}

void VirtualParallelPort::write(Register reg, uint8_t value) {
    StrobeHandler handler;
    uint8_t strobed = 0;
    {
        std::lock_guard lock(mutex_);
        if (recording_)
            accesses_.append({reg, true, value});
        // The status register is input lines: the printer drives them, not
        // the program.
        uint8_t* const target = pick<uint8_t*>(reg, &data_, nullptr, &control_);
        if (!target)
            return;
        if (target == &control_ && (value & 0x01) && !(control_ & 0x01)) {
            handler = strobeHandler_;
            strobed = data_;
        }
        *target = value;
    }
    if (handler)
        handler(strobed);
}

void VirtualParallelPort::setStatus(uint8_t status) {
    std::lock_guard lock(mutex_);
    status_ = status;
}

uint8_t VirtualParallelPort::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void VirtualParallelPort::setBusy(bool busy) {
    std::lock_guard lock(mutex_);
    status_ = busy ? (status_ & ~NotBusyLine) : (status_ | NotBusyLine);
}

void VirtualParallelPort::setFault(bool fault) {
    std::lock_guard lock(mutex_);
    status_ = fault ? (status_ & ~ErrorLine) : (status_ | ErrorLine);
}

void VirtualParallelPort::setLost(bool lost) {
    std::lock_guard lock(mutex_);
    lost_ = lost;
}

bool VirtualParallelPort::lost() const {
    std::lock_guard lock(mutex_);
    return lost_;
}

void VirtualParallelPort::setStrobeHandler(StrobeHandler handler) {
    std::lock_guard lock(mutex_);
    strobeHandler_ = std::move(handler);
}

QList<VirtualParallelPort::Access> VirtualParallelPort::accesses() const {
    std::lock_guard lock(mutex_);
    return accesses_;
}

void VirtualParallelPort::clearAccesses() {
    std::lock_guard lock(mutex_);
    accesses_.clear();
}

void VirtualParallelPort::setRecording(bool on) {
    std::lock_guard lock(mutex_);
    recording_ = on;
}
