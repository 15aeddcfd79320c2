#pragma once

// The small pieces every line's waits are made of: an eventfd rung and
// emptied, a descriptor added to the epoll set, and a deadline as poll()'s
// milliseconds.
#include <chrono>
#include <cstdint>
#include <sys/epoll.h>
#include <unistd.h>

namespace LineWaits {

using Clock = std::chrono::steady_clock;

// The milliseconds poll() should wait to reach a deadline: -1 for none,
// rounded up so that a wake-up never comes before it. The deadline is
// compared before any arithmetic, as it may be the clock's minimum.
inline int msUntil(Clock::time_point until) {
    if (until == Clock::time_point::max())
        return -1;
    const auto now = Clock::now();
    if (until <= now)
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return ms > 1 << 30 ? 1 << 30 : int(ms);
}

// Counts one on an eventfd, waking whoever waits on it.
inline void ring(int eventFd) {
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(eventFd, &one, sizeof one);
}

// Empties an eventfd (or a timerfd) so that it wakes nobody until rung again.
inline void drainCounter(int fd) {
    uint64_t count = 0;
    [[maybe_unused]] const auto n = ::read(fd, &count, sizeof count);
}

inline void watch(int pollFd, int fd, uint32_t events) {
    epoll_event e{};
    e.events = events;
    e.data.fd = fd;
    epoll_ctl(pollFd, EPOLL_CTL_ADD, fd, &e);
}

} // namespace LineWaits
