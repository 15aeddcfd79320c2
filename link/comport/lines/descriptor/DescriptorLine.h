#pragma once

#include "link/comport/SerialLine.h"

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>

// What the lines on a file descriptor (a tty, a USB printer's node, a
// socket) share: the event thread's epoll set and the eventfd that wakes
// it, the cancel, the hang-up reported once, and the events and errors kept
// for the next wait. Each line keeps only what is its own: what the event
// thread looks at when woken (look, sampleLocked) and what it sleeps on
// (waitForActivity).
class DescriptorLine : public SerialLine {
public:
    // Closes the epoll set and the wake-up; the line closes its own
    // descriptor first, each kind in its own way.
    ~DescriptorLine() override;

    // The kernel (or the line) sizes its own queues; the input size still
    // sets the mark at which the queue counts as 80 % full.
    int SetupComm(int inputSize, int outputSize) override;
    int SetCommTimeouts(const TCommTimeouts& timeouts) override;
    // Within the read time-outs, taking what has arrived and sleeping until
    // more may have; a line that hung up reads nothing.
    int Read(char* data, int count, int& read) override;
    int ReadWaiting(char* data, int count, int& read) override;
    int ClearError(TComErrors& errors, int& inputCount) override;
    TComEvents WaitEvents(TComEvents mask) override;
    void CancelWait() override;

protected:
    // Takes the descriptors over (one may be -1 if making it failed: the
    // opener checks ready()) and watches the wake-up and the line's
    // descriptor with lineEvents.
    DescriptorLine(int fd, int wakeFd, int pollFd, uint32_t lineEvents);
    bool ready() const { return fd_ >= 0 && wakeFd_ >= 0 && pollFd_ >= 0; }

    // The event thread's turn, before the events are taken: what the line
    // does without the state locked (take in what arrived, let go of a
    // watch on a line gone).
    virtual void look() {}
    // Under stateMutex_: finds what happened and keeps it in pending_.
    virtual void sampleLocked() {}
    // Under stateMutex_: the errors ClearError should see are up to date.
    virtual void sampleErrorsLocked() {}
    // Sleeps until something may have happened, or a wake-up.
    virtual void waitForActivity() = 0;
    // A read's turn: moves what has arrived, up to count bytes, and returns
    // 0 or the read's error.
    virtual int takeArrived(char* data, int count, int& got) = 0;
    // A read's sleep of up to ms until more may have come: 0, the read's
    // error or LineWaits::StopReading.
    virtual int awaitInput(int ms) = 0;
    // ReadWaiting's: what is there now, up to count bytes, without waiting.
    virtual int takeWaiting(char* data, int count, int& read) = 0;

    void wake();
    void hangUp();
    // Reported once: the error, and the lines going off with the device.
    void hangUpLocked();
    // A call that met a device gone says so at once and hangs up.
    int failed(int err);
    // The line's descriptors leave the epoll set once it has hung up, so
    // the event thread neither spins on them nor touches them again.
    void unwatchIfHungUp(std::initializer_list<int> fds);
    // The input queue grew from before to after bytes: evRxChar, and
    // evRx80Full when it crossed 80 % of the input size.
    void inputGrewLocked(qsizetype before, qsizetype after);

    const int fd_;
    const int wakeFd_;
    const int pollFd_;
    std::atomic<bool> hungUp_{false};
    std::atomic<bool> cancel_{false};
    // A write has ended: its transmitter-empty report is due.
    std::atomic<bool> txEmptyDue_{false};
    std::atomic<int> inputSize_{1024};
    TCommTimeouts timeouts_;

    // Guards pending_ and errors_, and whatever the line keeps beside them.
    std::mutex stateMutex_;
    TComEvents pending_;
    TComErrors errors_;

private:
    bool unwatched_ = false; // the event thread's own
};
