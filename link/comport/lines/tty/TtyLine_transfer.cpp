// The transfers of the tty line: writes within the write time-out, reads
// within the read time-outs, the input's marks taken out, and the purge.
#include "link/comport/lines/tty/TtyLine.h"

#include "link/comport/LineWaits.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
using LineWaits::Clock;
using LineWaits::msUntil;

// A write waits for its bytes to leave in steps of the time they take on
// the line, never shorter than this.
constexpr auto drainStep = std::chrono::microseconds(500);
// The largest transmit FIFO of the common adapters (CP2102: 640 bytes), and
// how often its emptying is looked at.
constexpr int fifoBytes = 640;
constexpr auto fifoStep = std::chrono::milliseconds(5);

bool gone(short revents) {
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
} // namespace

int TtyLine::outputQueue(int& count) {
    count = 0;
    if (!has(QueueCounts))
        return 0;
    if (ioctl(fd_, TIOCOUTQ, &count) == 0)
        return 0;
    const int err = errno;
    if (unsupported(QueueCounts, err))
        return 0;
    return err;
}

bool TtyLine::transmitterEmpty() {
    if (!has(LineStatus))
        return true;
    unsigned int lsr = 0;
    if (ioctl(fd_, TIOCSERGETLSR, &lsr) == 0)
        return (lsr & TIOCSER_TEMT) != 0;
    unsupported(LineStatus, errno);
    return true;
}

// At the write time-out the bytes the driver took stay queued: they go out
// when the printer takes them, and count as written, so that a sender sends
// again exactly what the driver never took. Dropping them instead is not
// possible on every driver (a USB adapter keeps what it was handed, and
// prints it when CTS returns), and a count of what is still queued would
// then make the sender print it twice.
int TtyLine::Write(const char* data, int count, int& written) {
    written = 0;
    if (hungUp_)
        return WinError::IoDevice;
    if (count <= 0)
        return 0;
    const auto deadlines = TransferDeadlines::ForWrite(timeouts_, count, Clock::now());
    if (rtsToggle_)
        setModemLine(TIOCM_RTS, true);
    int accepted = 0;
    int err = pushOut(data, count, deadlines, accepted);
    if (!err)
        err = drain(deadlines);
    if (rtsToggle_)
        setModemLine(TIOCM_RTS, false);
    if (err)
        return failed(err);
    // Every write that ends reports the transmitter empty, also one the
    // kernel took nothing of (flow control held it all): a sender waits for
    // that report before its next block.
    txEmptyDue_ = true;
    wake();
    written = accepted;
    return 0;
}

// Hands the bytes to the driver until all are taken or the time is up; an
// errno on failure.
int TtyLine::pushOut(const char* data, int count, const TransferDeadlines& deadlines,
                     int& accepted) {
    accepted = 0;
    while (accepted < count) {
        const ssize_t n = ::write(fd_, data + accepted, size_t(count - accepted));
        if (n > 0) {
            accepted += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        const int ms = msUntil(deadlines.Total());
        if (ms == 0)
            return 0;
        pollfd p{fd_, POLLOUT, 0};
        const int ready = poll(&p, 1, ms);
        if (ready == 0)
            return 0;
        if (ready > 0 && gone(p.revents))
            return EIO;
    }
    return 0;
}

// Waits until the bytes have left the driver and the UART, or the time is
// up, in steps of the line time of what is queued. The wait is on the tty,
// so a device that goes away ends it at once. Once the driver's queue is
// empty, the transmitter holds at most a chip's FIFO: some adapters never
// report it empty (qemu's FTDI), so it is waited for no longer than that
// takes to send.
int TtyLine::drain(const TransferDeadlines& deadlines) {
    const auto byteTime = std::chrono::nanoseconds(byteTimeNs_.load());
    auto queueEmptied = Clock::time_point::max();
    for (;;) {
        int queued = 0;
        if (const int err = outputQueue(queued))
            return err;
        const auto now = Clock::now();
        if (queued > 0)
            queueEmptied = Clock::time_point::max();
        else if (queueEmptied == Clock::time_point::max())
            queueEmptied = now;
        const bool sent =
            queued == 0 && (transmitterEmpty() || now - queueEmptied > fifoBytes * byteTime);
        if (sent || now >= deadlines.Total())
            return 0;
        const Clock::duration step =
            queued > 0 ? std::max<Clock::duration>(queued * byteTime, drainStep) : fifoStep;
        pollfd p{fd_, 0, 0};
        if (poll(&p, 1, msUntil(std::min(deadlines.Total(), now + step))) > 0 && gone(p.revents))
            return EIO;
    }
}

// With PARMRK the line discipline marks what is not a plain byte: a break
// as \377 \0 \0, a byte with a parity error as \377 \0 <byte> (parity is
// checked only when asked) and a real \377 as \377 \377. The marks are what
// makes a break input that wakes the event thread; they are taken out here,
// in place, a mark cut by the end of one read finished by the next. Breaks
// and errors are reported from the driver's counters. Returns the bytes left.
int TtyLine::unmark(char* data, int count) {
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const char c = data[i];
        if (markState_ == 0 && c == '\377') {
            markState_ = 1;
        } else if (markState_ == 1 && c == '\0') {
            markState_ = 2;
        } else {
            // A byte with an error is kept as it came; a break leaves nothing.
            if (markState_ != 2 || c != '\0')
                data[kept++] = c;
            markState_ = 0;
        }
    }
    return kept;
}

// An errno on failure. Reading nothing is no failure: with VMIN and VTIME
// at zero a live tty returns 0 while its queue is empty. What is read
// counts off the input the event thread has seen, so the next arrival is
// reported even when this read left bytes waiting.
int TtyLine::readSome(char* data, int count, int& got) {
    got = 0;
    std::lock_guard lock(readMutex_);
    while (got == 0) {
        const ssize_t n = ::read(fd_, data, size_t(count));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        if (n <= 0)
            return 0;
        {
            std::lock_guard seen(stateMutex_);
            lastInput_ = std::max(0, lastInput_ - int(n));
        }
        got = unmark(data, int(n));
        if (discardNull_)
            got = int(std::remove(data, data + got, '\0') - data);
    }
    return 0;
}

int TtyLine::takeArrived(char* data, int count, int& got) {
    const int err = readSome(data, count, got);
    return err ? failed(err) : 0;
}

int TtyLine::awaitInput(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) < 0 && errno != EINTR)
        return failed(errno);
    // A line that hung up reads as empty for ever, and poll() says so at
    // once: that is the read's error, not the end of its wait.
    return gone(p.revents) ? failed(EIO) : 0;
}

int TtyLine::takeWaiting(char* data, int count, int& read) {
    while (read < count) {
        int got = 0;
        if (const int err = readSome(data + read, count - read, got))
            return failed(err);
        if (got == 0)
            break;
        read += got;
    }
    return 0;
}

int TtyLine::Purge(bool output, bool input) {
    // A line that has hung up has nothing left to abort.
    if (hungUp_ || (!output && !input))
        return 0;
    const int which = output && input ? TCIOFLUSH : output ? TCOFLUSH : TCIFLUSH;
    if (tcflush(fd_, which) != 0)
        return queryFailed(errno);
    if (input) {
        std::lock_guard lock(readMutex_);
        markState_ = 0;
        std::lock_guard seen(stateMutex_);
        lastInput_ = 0;
    }
    return 0;
}
