// The transfers of the network line: writes within the write time-out (TCP's
// own back-pressure holds them, and the transmitter is empty once the
// server has every byte), reads within the read time-outs, the purge, and
// taking in whatever the socket holds.
#include "link/comport/lines/network/NetworkLine.h"

#include "link/comport/EventLoopWait.h"
#include "link/comport/LineWaits.h"

#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {
using LineWaits::Clock;
using LineWaits::drainCounter;
using LineWaits::msUntil;
using LineWaits::ring;

// The most input kept for the program: what comes beyond it while nobody
// reads is lost, as on a serial port, and said so (ceRxOver).
constexpr qsizetype inputLimit = 1 << 16;
// The most telnet the line may owe a server that does not read: one that
// keeps asking meanwhile misbehaves, and is dropped.
constexpr qsizetype owedLimit = 1 << 16;
// What one call takes in at most: 16 pieces of 4 KB.
constexpr int piecesPerTake = 16;
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

void NetworkLine::tellArrival() {
    ring(arrivedFd_);
}

void NetworkLine::CancelWait() {
    closing_ = true;
    DescriptorLine::CancelWait();
    tellArrival();
}

int NetworkLine::socketFailed(int err) {
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

// Reads what the socket holds without waiting, a bounded amount a call so
// that a peer that sends without pause holds nobody long, and takes it
// apart: data into the input queue, the server's telnet into the line's
// state. The state is locked a piece at a time, never across a burst.
// Whoever finds something tells the event thread and a waiting reader.
// False when it stopped with bytes still in the socket.
bool NetworkLine::takeIn() {
    char buffer[4096];
    bool arrived = false, emptied = false;
    for (int piece = 0; piece < piecesPerTake && !emptied && !hungUp_; ++piece) {
        std::lock_guard taking(receiveMutex_);
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            emptied = true;
            break;
        }
        std::lock_guard lock(stateMutex_);
        arrived = true;
        if (n <= 0) // the server closed the connection, or it broke
            hangUpLocked();
        else if (rfc2217())
            decoder_.take(buffer, int(n));
        else
            appendInputLocked(buffer, int(n));
    }
    if (arrived) {
        wake();
        tellArrival();
        // Answers to the server's negotiation go at once, unless a write
        // holds the socket: it sends them before its data.
        std::unique_lock sending(sendMutex_, std::try_to_lock);
        if (sending.owns_lock())
            sendOwedLocked(Clock::now());
    }
    return emptied || hungUp_;
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
    inputGrewLocked(before, input_.size());
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
        if (!owedLocked(bytes.size()))
            return;
        owed_ += bytes;
    }
    std::lock_guard sending(sendMutex_);
    if (const int err = sendOwedLocked(Clock::now()))
        socketFailed(err);
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
    const int err = pushOut(owed.constData(), int(owed.size()), deadline, sent);
    std::lock_guard lock(stateMutex_);
    owed_.prepend(owed.mid(sent));
    return err;
}

// Hands bytes to the kernel until all are taken or the deadline passes.
int NetworkLine::pushOut(const char* bytes, int size, Clock::time_point deadline, int& sent) {
    sent = 0;
    while (sent < size) {
        const ssize_t n =
            ::send(fd_, bytes + sent, size_t(size - sent), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += int(n);
            handedOver_ += uint64_t(n);
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

int NetworkLine::queued() const {
    int count = 0;
    return ioctl(fd_, SIOCOUTQ, &count) == 0 ? count : 0;
}

// Waits until the server has acknowledged every byte (the socket's output
// queue is empty), the printer turns busy (CTS off: what is queued goes
// when it takes bytes again) or the deadline passes, looking soon at first
// (over a LAN an acknowledgement takes well under a millisecond), then more
// rarely; the event loop runs meanwhile. delivered says whether every byte
// was acknowledged.
int NetworkLine::drain(Clock::time_point deadline, bool& delivered) {
    Clock::duration step = firstLook;
    int err = 0;
    const auto arm = [this, &step] {
        const auto ns = std::chrono::nanoseconds(step).count();
        const itimerspec next{{0, 0}, {time_t(ns / 1000000000), long(ns % 1000000000)}};
        timerfd_settime(drainFd_, 0, &next, nullptr);
        step = std::min<Clock::duration>(step * 2, longestLook);
    };
    EventLoopWait::until({{drainFd_}, {arrivedFd_}}, deadline, [&] {
        drainCounter(drainFd_);
        drainCounter(arrivedFd_);
        delivered = queued() == 0;
        pollfd p{fd_, 0, 0};
        if (!delivered && poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP))) {
            socklen_t length = sizeof err;
            getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &length);
            err = err ? err : ECONNRESET;
        }
        bool busy = false;
        {
            std::lock_guard lock(stateMutex_);
            busy = busy_ || suspended_;
        }
        if (delivered || err || busy || closing_ || hungUp_)
            return true;
        arm();
        return false;
    });
    const itimerspec off{};
    timerfd_settime(drainFd_, 0, &off, nullptr);
    return err;
}

// Hands the bytes to the kernel as far as it takes them, the event loop
// running while it takes none, until all are taken or the deadline passes.
// A server that asked to suspend gets nothing until it resumes.
int NetworkLine::writeWithin(const QByteArray& wire, const char* data, int count,
                             Clock::time_point deadline, int& written) {
    int sent = 0, err = 0;
    const auto suspended = [this] {
        std::lock_guard lock(stateMutex_);
        return suspended_;
    };
    for (;;) {
        const bool held = suspended();
        const auto done = [&] {
            drainCounter(arrivedFd_);
            if (closing_ || hungUp_)
                return true;
            if (held)
                return !suspended();
            return pushSome(wire, data, sent, written, err) || suspended();
        };
        const auto end = held ? EventLoopWait::until({{arrivedFd_}}, deadline, done)
                              : EventLoopWait::until({{fd_, true}, {arrivedFd_}}, deadline, done);
        if (end != EventLoopWait::End::Done || err || written >= count || closing_ || hungUp_)
            return err;
    }
}

// One turn of a write: what is owed first, then as much of the data as the
// socket takes now. sent stays at the wire position of the bytes written;
// a doubled 0xFF cut in two counts as written, its second half owed before
// anything else goes. True when the write has nothing more to do.
bool NetworkLine::pushSome(const QByteArray& wire, const char* data, int& sent, int& written,
                           int& err) {
    std::lock_guard sending(sendMutex_);
    if ((err = sendOwedLocked(Clock::now())))
        return true;
    {
        std::lock_guard lock(stateMutex_);
        if (!owed_.isEmpty())
            return false;
    }
    int n = 0;
    err = pushOut(wire.constData() + sent, int(wire.size()) - sent, Clock::now(), n);
    const int end = sent + n;
    for (; sent < end; ++written)
        sent += rfc2217() && data[written] == '\xff' ? 2 : 1;
    if (sent > end) {
        std::lock_guard lock(stateMutex_);
        owed_.prepend('\xff');
    }
    if (n > 0)
        wake(); // the event thread watches what is unacknowledged
    return err || sent >= wire.size();
}

// The bytes the kernel took stay queued at the time-out and count as
// written, as on the tty. A write whose bytes a hang-up cut off before they
// were acknowledged failed, whatever the kernel took. A write started while
// another waits (by a handler the event loop ran) takes nothing, as one
// that timed out at once: the two never interleave their bytes.
int NetworkLine::Write(const char* data, int count, int& written) {
    written = 0;
    if (hungUp_)
        return WinError::IoDevice;
    if (count <= 0 || writing_)
        return 0;
    writing_ = true;
    const auto over = qScopeGuard([this] { writing_ = false; });
    const auto deadlines = TransferDeadlines::ForWrite(timeouts_, count, Clock::now());
    QByteArray wire;
    if (rfc2217())
        Rfc2217::appendData(wire, data, count);
    else
        wire = QByteArray(data, count);
    int err = writeWithin(wire, data, count, deadlines.Total(), written);
    bool delivered = false;
    if (!err && written > 0)
        err = drain(deadlines.Total(), delivered);
    if (err)
        return socketFailed(err);
    if (hungUp_ && !delivered)
        return WinError::IoDevice;
    // Every write that ends reports the transmitter empty, as on the tty.
    txEmptyDue_ = true;
    wake();
    return 0;
}

// Whether the line may owe the server more bytes; a server that lets what
// is owed grow past the limit (it asks and does not read) is dropped.
bool NetworkLine::owedLocked(qsizetype more) {
    if (owed_.size() + more <= owedLimit)
        return true;
    dropMisbehavingLocked();
    return false;
}

void NetworkLine::dropMisbehavingLocked() {
    if (hungUp_)
        return;
    NetworkFailure failure;
    failure.kind = NetworkFailure::Kind::Misbehaved;
    NetworkFailure::record(url_, failure);
    owed_.clear();
    ::shutdown(fd_, SHUT_RDWR);
    hangUpLocked();
    wake();
    tellArrival();
}

// An errno on failure; waiting ends early when the port is closing.
int NetworkLine::takeArrived(char* data, int count, int& got) {
    drainCounter(arrivedFd_);
    takeIn();
    if (hungUp_)
        return WinError::IoDevice;
    got = takeInput(data, count);
    return 0;
}

// Either the socket brings something, or the event thread took it in.
int NetworkLine::awaitInput(int ms) {
    if (closing_)
        return LineWaits::StopReading;
    pollfd p[2] = {{fd_, POLLIN, 0}, {arrivedFd_, POLLIN, 0}};
    return poll(p, 2, ms) < 0 && errno != EINTR ? socketFailed(errno) : 0;
}

int NetworkLine::takeWaiting(char* data, int count, int& read) {
    takeIn();
    if (hungUp_)
        return WinError::IoDevice;
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
