#include "link/portio/VirtualParallelPort.h"

uint8_t VirtualParallelPort::read(Register reg) {
    std::lock_guard lock(mutex_);
    uint8_t value = 0;
    switch (reg) {
    case Register::Data:
        value = data_;
        break;
    case Register::Status:
        value = status_;
        break;
    case Register::Control:
        value = control_;
        break;
    }
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
        switch (reg) {
        case Register::Data:
            data_ = value;
            break;
        case Register::Control:
            if ((value & 0x01) && !(control_ & 0x01)) {
                handler = strobeHandler_;
                strobed = data_;
            }
            control_ = value;
            break;
        case Register::Status:
            // Input lines: the printer drives them, not the program.
            break;
        }
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
