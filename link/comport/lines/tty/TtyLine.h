#pragma once

#include "link/comport/lines/descriptor/DescriptorLine.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

class TtyLock;
class TtyModemWatch;

// The serial line on a Linux tty device, through termios and the tty ioctls.
// Kept apart from the component so that every kernel call of the port lives
// in these files: TtyLine.cpp (opening, closing, the settings), TtyLine_transfer.cpp
// (writes, reads and the input's marks) and TtyLine_events.cpp (what the event
// thread waits for and reports).
class TtyLine : public DescriptorLine {
public:
    // Opens a tty for the port's exclusive use. Anything that is not a tty
    // is refused, so a mapping to a regular file never writes into it; so is
    // a device another program holds, before it is opened at all, so that
    // opening it changes nothing of that program's lines. Looking for holders
    // lets the event loop run; a cancel through opening ends it.
    static std::unique_ptr<SerialLine> open(const QString& device, int& winError,
                                            LineOpening* opening = nullptr);
    ~TtyLine() override;

    int SetCommState(const TDCB& dcb) override;
    int Write(const char* data, int count, int& written) override;
    int Purge(bool output, bool input) override;
    int ModemStatus(TComSignals& lines) override;
    int InputWaiting(int& count) override;
    TComEvents WaitEvents(TComEvents mask) override;

private:
    TtyLine(int fd, int wakeFd, int pollFd, std::unique_ptr<TtyLock> lock);

    enum Feature {
        ModemLines = 1,
        Counters = 2,
        LineStatus = 4,
        QueueCounts = 8,
        ModemControl = 16
    };
    bool has(Feature f) const { return (features_.load() & f) != 0; }
    // Switches a feature off when the driver does not offer it; true then.
    bool unsupported(Feature f, int err);
    int applyTermios(const TDCB& dcb);
    void applyModemControl(const TDCB& dcb);
    int outputQueue(int& count);
    bool transmitterEmpty();
    int pushOut(const char* data, int count, const TransferDeadlines& deadlines, int& accepted);
    int drain(const TransferDeadlines& deadlines);
    int readSome(char* data, int count, int& got);
    int takeArrived(char* data, int count, int& got) override;
    int awaitInput(int ms) override;
    int takeWaiting(char* data, int count, int& read) override;
    int unmark(char* data, int count);
    // The same for a query: a device gone is a hang-up, not a failure.
    int queryFailed(int err);
    // Looks at what the wake-up was for and keeps what it finds in pending_
    // for the next WaitEvents; caller holds stateMutex_.
    void sampleLocked() override;
    void sampleErrorsLocked() override;
    void look() override;
    void sampleModemLocked();
    void sampleCountersLocked();
    void sampleInputLocked();
    void startModemWatch();
    bool modemWatched();
    int tickMs();
    void waitForActivity() override;
    void setModemLine(int bit, bool on);

    const std::unique_ptr<TtyLock> lock_;
    std::atomic<int> features_{ModemLines | Counters | LineStatus | QueueCounts | ModemControl};
    // The modem lines may have changed: the next look must read them.
    std::atomic<bool> modemDue_{false};
    std::atomic<int64_t> byteTimeNs_{1041667};
    std::atomic<bool> discardNull_{false};
    bool rtsToggle_ = false;

    // Created by the event thread on its first wait, rearmed by a settings
    // change on the GUI thread, ended at a hang-up or by the destructor.
    std::mutex watchMutex_;
    std::unique_ptr<TtyModemWatch> modemWatch_;
    bool modemWatchTried_ = false;

    // Reads take the input's marks apart (a break, a doubled 0xFF) across
    // their boundaries: how far into a mark the last read ended.
    std::mutex readMutex_;
    int markState_ = 0;

    // Under stateMutex_: what the last look saw.
    int lastModem_ = 0;
    int lastInput_ = 0;
    struct Counts {
        int cts = 0, dsr = 0, rng = 0, dcd = 0, frame = 0, overrun = 0, parity = 0, brk = 0,
            bufOverrun = 0;
        bool operator==(const Counts&) const = default;
    } lastCounts_;
};
