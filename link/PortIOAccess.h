#pragma once

#include "link/LinkDevices.h"
#include "link/portio/PortIO.h"

// Lets the link primitives reach PortIO1 through their narrow port view.
class PortIOAccess : public PortAccess {
public:
    explicit PortIOAccess(TPortIO& portIO) : portIO_(portIO) {}
    uint8_t GetPortByte(uint16_t address) override { return portIO_.GetPortByte(address); }
    void SetPortByte(uint16_t address, uint8_t value) override {
        portIO_.SetPortByte(address, value);
    }

private:
    TPortIO& portIO_;
};
