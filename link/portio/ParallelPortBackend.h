#pragma once

#include <cstdint>

// One parallel port as TPortIO reaches it: its three registers, byte-wide.
// Implemented by the ppdev device (PpdevParallelPort) and by the in-process
// virtual port (VirtualParallelPort).
class ParallelPortBackend {
public:
    enum class Register : uint8_t { Data = 0, Status = 1, Control = 2 };

    virtual ~ParallelPortBackend() = default;
    virtual uint8_t read(Register reg) = 0;
    virtual void write(Register reg, uint8_t value) = 0;
};
