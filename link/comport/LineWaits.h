#pragma once

// The small pieces every line's waits are made of: an eventfd rung and
// emptied, a descriptor added to the epoll set, and a deadline as poll()'s
// milliseconds.
#include "link/comport/SerialLine.h"

#include <atomic>
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

// What a read's wait returns to end the read at once, without an error,
// with what it has (the port is closing).
constexpr int StopReading = -1;

// Reads count bytes within the read time-outs. take(data, count, got) moves
// what has arrived and returns 0 or the read's error; waitFor(ms) sleeps
// until more may have come and returns 0, the read's error or StopReading.
// The time-outs end the read with what it has, as a serial port's do.
template <typename Take, typename WaitFor>
int readWithin(const TCommTimeouts& timeouts, char* data, int count, int& read, Take take,
               WaitFor waitFor) {
    read = 0;
    const auto start = Clock::now();
    const auto deadlines = TransferDeadlines::ForRead(timeouts, count, start);
    auto last = start;
    while (read < count) {
        int got = 0;
        if (const int err = take(data + read, count - read, got))
            return err;
        if (got > 0) {
            read += got;
            last = Clock::now();
            continue;
        }
        const int ms = msUntil(deadlines.ReadUntil(read, last));
        if (ms == 0)
            break;
        if (const int err = waitFor(ms))
            return err == StopReading ? 0 : err;
    }
    return 0;
}

// The event thread's wait: takeEvents() hands over what has happened (and
// forgets it), wait() sleeps until something may have; a cancel ends it
// with nothing. Events outside the mask are not kept: the port asked not
// to hear of them.
template <typename Take, typename Wait>
TComEvents waitEvents(std::atomic<bool>& cancel, TComEvents mask, Take takeEvents, Wait wait) {
    for (;;) {
        if (cancel.exchange(false))
            return {};
        const TComEvents events = takeEvents() & mask;
        if (!events.Empty())
            return events;
        wait();
    }
}

} // namespace LineWaits
