#pragma once

#include "link/LinkDevices.h"

#include <QString>

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

    // What a command pressed while the port is still being reached is told.
    inline static const QString OpeningText =
        QStringLiteral("A porta serial ainda está sendo conectada: aguarde e tente de novo");

    int Write(const void* buffer, int count) override;
    int Read(void* buffer, int count) override;
    void ClearInput() override;
    void SetOutCTSFlow(bool on) override;

private:
    void refuseWhileOpening();
    int transfer(const std::function<int()>& call);

    TCustomComPort& port_;
    std::function<void()> lineLost_;
};
