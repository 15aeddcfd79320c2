#pragma once

#include "link/LinkDevices.h"

class TCustomComPort;

// Lets the link primitives and the commands reach ComPort1 through their
// narrow serial view.
class ComPortAccess : public SerialPortAccess {
public:
    explicit ComPortAccess(TCustomComPort& port) : port_(port) {}

    int Write(const void* buffer, int count) override;
    int Read(void* buffer, int count) override;
    void ClearInput() override;
    void SetOutCTSFlow(bool on) override;

private:
    TCustomComPort& port_;
};
