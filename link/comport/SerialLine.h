#pragma once

#include "link/comport/ComTypes.h"

#include <memory>

class QString;

// What TCustomComPort needs of a serial line: the Win32 communications calls
// reduced to what the component uses. Every call that can fail returns 0 on
// success or the Windows error code; the component turns it into EComPort.
//
// Threads: the GUI thread makes every call except WaitEvents; the port's event
// thread calls WaitEvents, and CancelWait may come from any thread. Every
// call must be safe against a concurrent WaitEvents.
class SerialLine {
public:
    virtual ~SerialLine() = default;

    virtual int SetupComm(int inputSize, int outputSize) = 0;
    virtual int SetCommState(const TDCB& dcb) = 0;
    virtual int SetCommTimeouts(const TCommTimeouts& timeouts) = 0;

    // Blocking transfers within the time-outs last set. A time-out is not a
    // failure: the count says how many bytes moved.
    virtual int Write(const char* data, int count, int& written) = 0;
    virtual int Read(char* data, int count, int& read) = 0;

    // Drops queued output (abort) and/or input.
    virtual int Purge(bool output, bool input) = 0;
    virtual int ModemStatus(TComSignals& signals) = 0;
    // ClearCommError: the line errors since the last call, and the input count.
    virtual int ClearError(TComErrors& errors, int& inputCount) = 0;
    // Reads without waiting whatever is in the input queue, up to count bytes.
    virtual int ReadWaiting(char* data, int count, int& read) = 0;

    // Blocks until one of the events in mask happens or CancelWait is called;
    // returns the events (empty after a cancel). A line that hangs up reports
    // evError once and then waits only for the cancel.
    virtual TComEvents WaitEvents(TComEvents mask) = 0;
    virtual void CancelWait() = 0;
};

// Opens the line a port name resolves to through the port map: a tty device
// or a virtual line. On failure returns null with the Windows error code.
std::unique_ptr<SerialLine> OpenSerialLine(const QString& portName, int& winError);
