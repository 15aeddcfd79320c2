#include "link/comport/lines/network/NetworkConnect.h"

#include "link/comport/EventLoopWait.h"
#include "link/comport/LineWaits.h"
#include "link/comport/SerialLine.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace NetworkConnect {

namespace {
using LineWaits::Clock;

// RFC 8305's spacing between two connection attempts.
constexpr auto attemptSpacing = std::chrono::milliseconds(250);

// Keepalive probes after 5 s of quiet, every 2 s: the kernel drops a peer
// that answers 5 of them in a row with nothing (15 s). No user time-out:
// with one, the kernel also aborts a printer that keeps its window closed
// while it answers every probe, and a busy printer is not a dead one. The
// line itself watches what stays unacknowledged (NetworkLine_watch.cpp).
void setSocketOptions(int fd) {
    const int on = 1, idle = 5, interval = 2, probes = 5;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = 0;
};

// A name lookup on a thread of its own, as getaddrinfo() blocks. A lookup
// the wait gives up on finishes by itself later and frees what it used.
struct Lookup {
    int error = 0;
    std::vector<Address> addresses;
};

void resolve(Lookup& lookup, const QByteArray& host, const QByteArray& port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    lookup.error = getaddrinfo(host.constData(), port.constData(), &hints, &found);
    for (addrinfo* a = found; a; a = a->ai_next) {
        Address address;
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        address.family = a->ai_family;
        lookup.addresses.push_back(address);
    }
    if (found)
        freeaddrinfo(found);
}

// The addresses of the host: an address needs no lookup (an IPv6 one with
// its zone, "fe80::1%eth0", gets the interface as its scope), a name is
// looked up on a thread of its own.
std::shared_ptr<Lookup> lookUp(const NetworkAddress& where, Clock::time_point deadline,
                               LineOpening* opening, NetworkFailure& failure) {
    const QByteArray host = where.host.toUtf8();
    const QByteArray port = QByteArray::number(where.port);
    auto lookup = std::make_shared<Lookup>();
    resolve(*lookup, host, port, AI_NUMERICHOST | AI_NUMERICSERV);
    if (lookup->error == 0)
        return lookup;
    lookup = std::make_shared<Lookup>();
    const auto end = EventLoopWait::aside(
        [lookup, host, port] { resolve(*lookup, host, port, AI_NUMERICSERV); }, deadline, opening);
    if (end == EventLoopWait::End::Cancelled)
        return nullptr;
    if (end == EventLoopWait::End::TimedOut)
        failure.kind = NetworkFailure::Kind::NoAnswer;
    else if (lookup->error == EAI_AGAIN)
        failure.kind = NetworkFailure::Kind::NameServerSilent;
    else if (lookup->error != 0 || lookup->addresses.empty())
        failure.kind = NetworkFailure::Kind::NameNotFound;
    return failure.kind == NetworkFailure::Kind::None ? lookup : nullptr;
}

NetworkFailure connectFailure(int err) {
    NetworkFailure failure;
    failure.kind = err == ECONNREFUSED ? NetworkFailure::Kind::Refused
                   : err == ETIMEDOUT  ? NetworkFailure::Kind::NoAnswer
                                       : NetworkFailure::Kind::Unreachable;
    failure.errorNumber = err;
    return failure;
}

// The attempts under way, in one epoll set with the timer that starts the
// next: the set is one descriptor the wait can watch, however many there are.
class Race {
public:
    explicit Race(const std::vector<Address>& addresses)
        : addresses_(addresses), set_(epoll_create1(EPOLL_CLOEXEC)),
          timer_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
        if (set_ >= 0 && timer_ >= 0)
            LineWaits::watch(set_, timer_, EPOLLIN);
        else
            lastError_ = errno;
    }
    ~Race() {
        for (const int fd : attempts_)
            ::close(fd);
        for (const int fd : {set_, timer_})
            if (fd >= 0)
                ::close(fd);
    }
    int set() const { return set_; }
    int winner() const { return winner_; }
    // Whether the race is over: a winner, or every address failed.
    bool settled() {
        epoll_event ready[8];
        const int n = set_ < 0 ? 0 : epoll_wait(set_, ready, 8, 0);
        for (int i = 0; i < n && winner_ < 0; ++i) {
            if (ready[i].data.fd == timer_) {
                LineWaits::drainCounter(timer_);
                startNext();
            } else {
                answered(ready[i].data.fd);
            }
        }
        if (started_ == 0)
            startNext();
        return winner_ >= 0 || (attempts_.empty() && next_ >= addresses_.size());
    }
    // Why the last address tried failed; a silent one has no answer.
    int lastError() const { return lastPending() ? ETIMEDOUT : lastError_; }

private:
    bool lastPending() const { return !attempts_.empty() && attempts_.back() == lastStarted_; }

    void startNext() {
        while (winner_ < 0 && next_ < addresses_.size() && set_ >= 0) {
            const Address& a = addresses_[next_++];
            ++started_;
            const int fd =
                socket(a.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
            if (fd < 0) {
                lastError_ = errno;
                continue;
            }
            setSocketOptions(fd);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.storage), a.length) == 0) {
                winner_ = fd;
                return;
            }
            if (errno != EINPROGRESS) {
                lastError_ = errno;
                ::close(fd);
                continue;
            }
            LineWaits::watch(set_, fd, EPOLLOUT);
            attempts_.push_back(fd);
            lastStarted_ = fd;
            const itimerspec spacing{{0, 0},
                                     {0, long(std::chrono::nanoseconds(attemptSpacing).count())}};
            timerfd_settime(timer_, 0, &spacing, nullptr);
            return;
        }
    }

    void answered(int fd) {
        int err = 0;
        socklen_t length = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
            err = errno;
        epoll_ctl(set_, EPOLL_CTL_DEL, fd, nullptr);
        attempts_.erase(std::find(attempts_.begin(), attempts_.end(), fd));
        if (err == 0) {
            winner_ = fd;
            return;
        }
        if (fd == lastStarted_)
            lastError_ = err;
        ::close(fd);
        // A failed attempt does not wait out the spacing: the next starts now.
        if (attempts_.empty())
            startNext();
    }

    const std::vector<Address>& addresses_;
    const int set_;
    const int timer_;
    std::vector<int> attempts_;
    size_t next_ = 0;
    int started_ = 0;
    int lastStarted_ = -1;
    int winner_ = -1;
    int lastError_ = ETIMEDOUT;
};
} // namespace

int reach(const NetworkAddress& where, Clock::time_point deadline, LineOpening* opening,
          NetworkFailure& failure) {
    const std::shared_ptr<Lookup> lookup = lookUp(where, deadline, opening, failure);
    if (!lookup)
        return -1;
    Race race(lookup->addresses);
    const auto end = EventLoopWait::until(
        {{race.set()}}, deadline, [&race] { return race.settled(); }, opening);
    if (end == EventLoopWait::End::Cancelled)
        return -1;
    // The winner has left the race; the others close with it.
    if (race.winner() < 0)
        failure = connectFailure(race.lastError());
    return race.winner();
}

} // namespace NetworkConnect
