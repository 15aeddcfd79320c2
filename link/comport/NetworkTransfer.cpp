// The transfers of the network line: writes within the write time-out (TCP's
// own back-pressure holds them, and the transmitter is empty once the
// server has every byte), reads within the read time-outs, the purge, and
// taking in whatever the socket holds.
#include "link/comport/NetworkLine.h"

#include "link/comport/LineWaits.h"

#include <algorithm>
#include <cerrno>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
using LineWaits::Clock;
using LineWaits::drainCounter;
using LineWaits::msUntil;
using LineWaits::ring;

// The most input kept for the program: what comes beyond it while nobody
// reads is lost, as on a serial port, and said so (ceRxOver).
constexpr qsizetype inputLimit = 1 << 16;
// How often a write looks whether the server has had everything: at first
// soon (over a LAN an acknowledgement takes well under a millisecond), then
// more rarely while the server's window stays closed.
constexpr auto firstLook = std::chrono::microseconds(500);
constexpr auto longestLook = std::chrono::milliseconds(20);

// A connection that has ended, whichever way.
bool lost(int err) {
    return err == ECONNRESET || err == EPIPE || err == ETIMEDOUT || err == ENOTCONN ||
           err == ECONNABORTED || err == EHOSTUNREACH || err == ENETUNREACH;
}
} // namespace

void NetworkLine::wake() {
    ring(wakeFd_);
}

void NetworkLine::tellArrival() {
    ring(arrivedFd_);
}

void NetworkLine::CancelWait() {
    cancel_ = true;
    closing_ = true;
    wake();
    tellArrival();
}

void NetworkLine::hangUpLocked() {
    if (hungUp_.exchange(true))
        return;
    // Reported once: the error, and the lines going off with the server.
    errors_.Include(ceIO);
    pending_ |= TComEvents{evError, evCTS, evDSR, evRLSD};
}

int NetworkLine::failed(int err) {
    if (lost(err)) {
        {
            std::lock_guard lock(stateMutex_);
            hangUpLocked();
        }
        wake();
        tellArrival();
        return WinError::IoDevice;
    }
    return WinError::FromNetworkErrno(err);
}

// Reads everything the socket holds without waiting and takes it apart:
// data into the input queue, the server's telnet into the line's state.
// Whoever finds something tells the event thread and a waiting reader.
void NetworkLine::takeIn() {
    char buffer[4096];
    bool arrived = false;
    {
        std::lock_guard lock(stateMutex_);
        while (!hungUp_) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                arrived = true;
                if (rfc2217())
                    decoder_.take(buffer, int(n));
                else
                    appendInputLocked(buffer, int(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            // The server closed the connection, or it broke.
            hangUpLocked();
            arrived = true;
        }
    }
    if (!arrived)
        return;
    wake();
    tellArrival();
    // Answers to the server's negotiation go at once, unless a write holds
    // the socket: it sends them before its data.
    std::unique_lock sending(sendMutex_, std::try_to_lock);
    if (sending.owns_lock())
        sendOwedLocked(Clock::now());
}

void NetworkLine::takeInAwaited() {
    drainCounter(arrivedFd_);
    takeIn();
}

void NetworkLine::appendInputLocked(const char* bytes, int count) {
    const qsizetype before = input_.size();
    const int kept = int(std::min<qsizetype>(count, inputLimit - before));
    if (kept < count) {
        errors_.Include(ceRxOver);
        pending_.Include(evError);
    }
    if (kept <= 0)
        return;
    input_.append(bytes, kept);
    pending_.Include(evRxChar);
    const int full = inputSize_ * 8 / 10;
    if (before < full && input_.size() >= full)
        pending_.Include(evRx80Full);
}

int NetworkLine::takeInput(char* data, int count) {
    std::lock_guard lock(stateMutex_);
    const int n = int(std::min<qsizetype>(count, input_.size()));
    std::copy_n(input_.constData(), n, data);
    input_.remove(0, n);
    return n;
}

// Adds telnet bytes to what is owed and sends what the socket takes now.
void NetworkLine::sendControl(const QByteArray& bytes) {
    {
        std::lock_guard lock(stateMutex_);
        owed_ += bytes;
    }
    std::lock_guard sending(sendMutex_);
    if (const int err = sendOwedLocked(Clock::now()))
        failed(err);
}

// Sends the owed telnet bytes, until the deadline; an errno on failure.
int NetworkLine::sendOwedLocked(Clock::time_point deadline) {
    QByteArray owed;
    {
        std::lock_guard lock(stateMutex_);
        owed = std::exchange(owed_, QByteArray());
    }
    if (owed.isEmpty())
        return 0;
    int sent = 0;
    const int err = pushOut(owed, deadline, sent);
    std::lock_guard lock(stateMutex_);
    owed_.prepend(owed.mid(sent));
    return err;
}

// Hands bytes to the kernel until all are taken or the deadline passes.
int NetworkLine::pushOut(const QByteArray& wire, Clock::time_point deadline, int& sent) {
    sent = 0;
    while (sent < wire.size()) {
        const ssize_t n = ::send(fd_, wire.constData() + sent, size_t(wire.size() - sent),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return errno;
        const int ms = msUntil(deadline);
        if (ms == 0)
            return 0;
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, ms);
    }
    return 0;
}

// Waits until the server has acknowledged every byte (the socket's output
// queue is empty) or the deadline passes.
int NetworkLine::drain(Clock::time_point deadline) {
    Clock::duration step = firstLook;
    for (;;) {
        int queued = 0;
        if (ioctl(fd_, SIOCOUTQ, &queued) != 0)
            return errno;
        const auto now = Clock::now();
        if (queued == 0 || now >= deadline)
            return 0;
        pollfd p{fd_, 0, 0};
        const auto until = std::min(deadline, now + step);
        if (poll(&p, 1, msUntil(until)) > 0 && (p.revents & (POLLERR | POLLHUP))) {
            int err = 0;
            socklen_t length = sizeof err;
            getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &length);
            return err ? err : ECONNRESET;
        }
        step = std::min<Clock::duration>(step * 2, longestLook);
    }
}

// The bytes the kernel took stay queued at the time-out and count as
// written, as on the tty. A doubled 0xFF cut by the deadline counts too,
// its second half owed before anything else goes.
int NetworkLine::Write(const char* data, int count, int& written) {
    written = 0;
    if (hungUp_)
        return WinError::IoDevice;
    if (count <= 0)
        return 0;
    const auto deadlines = TransferDeadlines::ForWrite(timeouts_, count, Clock::now());
    QByteArray wire;
    if (rfc2217())
        Rfc2217::appendData(wire, data, count);
    else
        wire = QByteArray(data, count);
    std::unique_lock sending(sendMutex_);
    int err = sendOwedLocked(deadlines.Total());
    bool owing = false;
    {
        std::lock_guard lock(stateMutex_);
        owing = !owed_.isEmpty();
    }
    int sent = 0;
    if (!err && !owing)
        err = pushOut(wire, deadlines.Total(), sent);
    int wireAt = 0;
    for (; wireAt < sent; ++written)
        wireAt += rfc2217() && data[written] == '\xff' ? 2 : 1;
    if (wireAt > sent) {
        std::lock_guard lock(stateMutex_);
        owed_.prepend('\xff');
    }
    if (!err)
        err = drain(deadlines.Total());
    sending.unlock();
    if (err)
        return failed(err);
    // Every write that ends reports the transmitter empty, as on the tty.
    txEmptyDue_ = true;
    wake();
    return 0;
}

// An errno on failure; waiting ends early when the port is closing.
int NetworkLine::Read(char* data, int count, int& read) {
    auto take = [this](char* at, int want, int& got) {
        drainCounter(arrivedFd_);
        takeIn();
        if (hungUp_)
            return int(WinError::IoDevice);
        got = takeInput(at, want);
        return 0;
    };
    return LineWaits::readWithin(timeouts_, data, count, read, take, [this](int ms) {
        if (closing_)
            return LineWaits::StopReading;
        // Either the socket brings something, or the event thread took it in.
        pollfd p[2] = {{fd_, POLLIN, 0}, {arrivedFd_, POLLIN, 0}};
        return poll(p, 2, ms) < 0 && errno != EINTR ? failed(errno) : 0;
    });
}

int NetworkLine::ReadWaiting(char* data, int count, int& read) {
    takeIn();
    if (hungUp_) {
        read = 0;
        return WinError::IoDevice;
    }
    read = takeInput(data, count);
    return 0;
}

int NetworkLine::InputWaiting(int& count) {
    takeIn();
    std::lock_guard lock(stateMutex_);
    count = int(input_.size());
    return 0;
}

// The server drops what it holds for the printer or from it as well.
int NetworkLine::Purge(bool output, bool input) {
    if (hungUp_ || (!output && !input))
        return 0;
    if (input) {
        std::lock_guard lock(stateMutex_);
        input_.clear();
    }
    if (rfc2217())
        sendControl(Rfc2217::comPort(Rfc2217::PurgeData, output && input ? Rfc2217::Purge::Both
                                                         : output        ? Rfc2217::Purge::Transmit
                                                                  : Rfc2217::Purge::Receive));
    return 0;
}
