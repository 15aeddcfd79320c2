// The event thread's look at what the printer has not acknowledged: CTS
// goes off while it stays put (the printer's window closed) and on when it
// moves again, and a peer that answers nothing at all for about 15 s is
// gone. Nothing is looked at while everything is acknowledged, so an idle
// line costs nothing; the kernel's keepalive watches it then.
#include "link/comport/lines/network/NetworkLine.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// What stays unacknowledged this long means the printer takes nothing: a
// live one acknowledges within its delayed-ACK time (200 ms at most).
constexpr auto busyAfter = 500ms;
// The looks while bytes are on their way: soon at first, then more rarely,
// and only a few a second while the printer is busy.
constexpr auto firstLook = 1ms;
constexpr auto longestLook = 50ms;
constexpr auto busyLook = 250ms;
// Nothing acknowledged (no data, no window probe, no keepalive) for this
// long while something asked is unanswered: the peer is gone. Held for a
// second, so that a probe just sent to a live peer is not taken for one it
// did not answer.
constexpr uint32_t silenceMs = 15000;
constexpr auto silenceConfirmed = 1s;
} // namespace

void NetworkLine::watchSending() {
    if (hungUp_) {
        armWatch({});
        return;
    }
    // Read in this order, a byte handed over in between counts as unacked.
    const uint64_t handed = handedOver_;
    const int inQueue = queued();
    const auto now = Clock::now();
    std::lock_guard lock(stateMutex_);
    if (inQueue == 0) {
        acked_ = handed;
        watchStep_ = {};
        silentSince_.reset();
        setCtsCauseLocked(busy_, false);
        armWatch({});
        return;
    }
    const uint64_t acked = handed - uint64_t(inQueue);
    if (watchStep_ == Clock::duration::zero() || acked > acked_) {
        acked_ = acked;
        progressAt_ = now;
        watchStep_ = firstLook;
        setCtsCauseLocked(busy_, false);
    } else if (now - progressAt_ >= busyAfter) {
        setCtsCauseLocked(busy_, true);
    }
    if (noAnswerFor(now)) {
        hangUpLocked();
        armWatch({});
        return;
    }
    armWatch(busy_ ? Clock::duration(busyLook) : watchStep_);
    watchStep_ = std::min<Clock::duration>(watchStep_ * 2, longestLook);
}

// Whether the peer has been silent too long: nothing acknowledged for 15 s
// while a retransmission or a probe waits for its answer, seen for a second.
bool NetworkLine::noAnswerFor(Clock::time_point now) {
    tcp_info info{};
    socklen_t length = sizeof info;
    const bool silent = getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
                        info.tcpi_last_ack_recv >= silenceMs &&
                        (info.tcpi_probes > 0 || info.tcpi_retransmits > 0);
    if (!silent) {
        silentSince_.reset();
        return false;
    }
    if (!silentSince_)
        silentSince_ = now;
    return now - *silentSince_ >= silenceConfirmed;
}

void NetworkLine::armWatch(Clock::duration after) {
    const auto ns = std::chrono::nanoseconds(after).count();
    const itimerspec next{{0, 0}, {time_t(ns / 1000000000), long(ns % 1000000000)}};
    timerfd_settime(watchFd_, 0, &next, nullptr);
}
