#pragma once

#include <cstdint>

// One parallel port as TPortIO reaches it: its three registers, byte-wide.
// Implemented by the ppdev device (PpdevParallelPort), the printer drivers'
// nodes (LpParallelPort) and the in-process virtual port (VirtualParallelPort).
class ParallelPortBackend {
public:
    enum class Register : uint8_t { Data = 0, Status = 1, Control = 2 };

    // The status register's lines.
    static constexpr uint8_t NotBusyLine = 0x80; // inverted busy: 1 = ready
    static constexpr uint8_t AckLine = 0x40;
    static constexpr uint8_t PaperEndLine = 0x20;
    static constexpr uint8_t SelectLine = 0x10;
    static constexpr uint8_t ErrorLine = 0x08; // 1 = no error

    // Of three values, one for each register, the one that belongs to reg:
    // the one place the backends tell the registers apart.
    template <typename T> static constexpr T pick(Register reg, T data, T status, T control) {
        switch (reg) {
        case Register::Data:
            return data;
        case Register::Status:
            return status;
        case Register::Control:
            return control;
        }
        return data;
    }

    ParallelPortBackend() = default;
    // A backend owns its device (a descriptor, a claim): it is never copied.
    ParallelPortBackend(const ParallelPortBackend&) = delete;
    ParallelPortBackend& operator=(const ParallelPortBackend&) = delete;
    virtual ~ParallelPortBackend() = default;
    virtual uint8_t read(Register reg) = 0;
    virtual void write(Register reg, uint8_t value) = 0;
    // Whether the device has gone (a USB cable pulled out): an access failed
    // in a way no later one can mend. What a lost device reads is meaningless.
    virtual bool lost() const = 0;
};
