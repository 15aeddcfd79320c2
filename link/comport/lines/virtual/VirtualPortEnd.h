#pragma once

#include "link/comport/SerialLine.h"
#include "link/comport/lines/virtual/VirtualLine.h"

#include <memory>

// The port's side of a virtual line, what TComPort drives once PortMap has
// handed it the line: its state is the line's, taken under the line's lock.
class VirtualPortEnd : public SerialLine {
public:
    explicit VirtualPortEnd(std::shared_ptr<VirtualLine> line) : line_(std::move(line)) {}
    ~VirtualPortEnd() override;

    int SetupComm(int inputSize, int outputSize) override;
    int SetCommState(const TDCB& dcb) override;
    int SetCommTimeouts(const TCommTimeouts& timeouts) override;
    int Write(const char* data, int count, int& written) override;
    int Read(char* data, int count, int& read) override;
    int Purge(bool output, bool input) override;
    int ModemStatus(TComSignals& lines) override;
    int InputWaiting(int& count) override;
    int ClearError(TComErrors& errors, int& inputCount) override;
    int ReadWaiting(char* data, int count, int& read) override;
    TComEvents WaitEvents(TComEvents mask) override;
    void CancelWait() override;

private:
    int takeInputLocked(char* data, int count);
    std::shared_ptr<VirtualLine> line_;
};
