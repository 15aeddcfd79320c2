#pragma once

#include "link/comport/ComTypes.h"

#include <algorithm>
#include <chrono>
#include <functional>
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
    virtual int ModemStatus(TComSignals& lines) = 0;
    // The number of bytes waiting in the input queue; leaves the errors alone.
    virtual int InputWaiting(int& count) = 0;
    // ClearCommError: the line errors since the last call, and the input count.
    virtual int ClearError(TComErrors& errors, int& inputCount) = 0;
    // Reads without waiting whatever is in the input queue, up to count bytes.
    virtual int ReadWaiting(char* data, int count, int& read) = 0;

    // Blocks until one of the events in mask happens or CancelWait is called;
    // returns the events (empty after a cancel). A line that hangs up reports
    // once evError (ceIO) with its modem lines going off (evCTS, evDSR,
    // evRLSD; ModemStatus reads them off from then on), and then waits only
    // for the cancel.
    virtual TComEvents WaitEvents(TComEvents mask) = 0;
    virtual void CancelWait() = 0;
};

// The deadlines of one transfer under the Win32 time-out rules: a read ends
// when all bytes arrived, when the interval time-out passes after a byte, or
// at the total time-out (multiplier x count + constant); zero for both total
// values means no total limit, and an interval of MAXDWORD with both totals
// zero returns at once with what is waiting.
class TransferDeadlines {
public:
    using Clock = std::chrono::steady_clock;

    static TransferDeadlines ForRead(const TCommTimeouts& t, int count, Clock::time_point start) {
        TransferDeadlines d;
        d.start_ = start;
        const uint32_t MAX = TCommTimeouts::MAXDWORD;
        if (t.ReadIntervalTimeout == MAX && t.ReadTotalTimeoutMultiplier == 0 &&
            t.ReadTotalTimeoutConstant == 0) {
            d.immediate_ = true;
            return d;
        }
        if (t.ReadIntervalTimeout == MAX && t.ReadTotalTimeoutMultiplier == MAX &&
            t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAX) {
            d.firstByteOnly_ = true;
            d.total_ = start + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
            return d;
        }
        d.total_ = totalOf(t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant, count, start);
        if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAX)
            d.interval_ = std::chrono::milliseconds(t.ReadIntervalTimeout);
        return d;
    }

    static TransferDeadlines ForWrite(const TCommTimeouts& t, int count, Clock::time_point start) {
        TransferDeadlines d;
        d.start_ = start;
        d.total_ =
            totalOf(t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant, count, start);
        return d;
    }

    // Until when a read that has got bytes so far (the last at lastByte) may
    // wait for more; a time not after now means it ends.
    Clock::time_point ReadUntil(int got, Clock::time_point lastByte) const {
        if (immediate_)
            return start_;
        if (firstByteOnly_ && got > 0)
            return Clock::time_point::min();
        if (got > 0 && interval_.count() > 0)
            return std::min(total_, lastByte + interval_);
        return total_;
    }
    Clock::time_point Total() const { return total_; }

private:
    static Clock::time_point totalOf(uint32_t multiplier, uint32_t constant, int count,
                                     Clock::time_point start) {
        if (multiplier == 0 && constant == 0)
            return Clock::time_point::max();
        // Far beyond any real wait, and far from overflowing the clock.
        const uint64_t ms = std::min<uint64_t>(
            uint64_t(multiplier) * uint64_t(count > 0 ? count : 0) + constant, 1ull << 40);
        return start + std::chrono::milliseconds(ms);
    }

    Clock::time_point start_{};
    Clock::time_point total_ = Clock::time_point::max();
    std::chrono::milliseconds interval_{0};
    bool immediate_ = false;
    bool firstByteOnly_ = false;
};

// An open under way that may take a while (a network line reaching its
// server, with the event loop running meanwhile): the port closed meanwhile
// cancels it. GUI thread only.
class LineOpening {
public:
    void Cancel() {
        cancelled_ = true;
        if (onCancel)
            onCancel();
    }
    bool Cancelled() const { return cancelled_; }
    // Set by the line while it waits, so that a cancel ends the wait at once.
    std::function<void()> onCancel;

private:
    bool cancelled_ = false;
};

// Opens the line a port name resolves to through the port map: a tty device,
// a network line or a virtual line. On failure returns null with the Windows
// error code; cancelled through opening, null as well.
std::unique_ptr<SerialLine> OpenSerialLine(const QString& portName, int& winError,
                                           LineOpening* opening = nullptr);
