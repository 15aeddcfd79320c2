#pragma once

#include "link/LinkDevices.h"

#include <functional>

class TCustomComPort;

// Lets the link primitives and the commands reach ComPort1 through their
// narrow serial view. A write or read that fails because the line hung up
// (the USB adapter pulled out) calls lineLost, which ends the connection and
// tells the operator; the call then ends with Messages::AlreadyShown, so the
// sender stops without a second box.
class ComPortAccess : public SerialPortAccess {
public:
    explicit ComPortAccess(TCustomComPort& port, std::function<void()> lineLost = {})
        : port_(port), lineLost_(std::move(lineLost)) {}

    int Write(const void* buffer, int count) override;
    int Read(void* buffer, int count) override;
    void ClearInput() override;
    void SetOutCTSFlow(bool on) override;

private:
    int transfer(const std::function<int()>& call);

    TCustomComPort& port_;
    std::function<void()> lineLost_;
};
