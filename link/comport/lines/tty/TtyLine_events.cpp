// What the event thread of a tty line waits for and reports. It sleeps in
// epoll until something happens: input arrives (the tty is watched
// edge-triggered, so every arrival wakes it, also while unread bytes wait),
// the modem-line watch sees a change, a write ends, the port stops it, or
// the line hangs up. Line errors come with input or a break, so the
// driver's error counters are looked at then; nothing wakes it on a timer
// unless the driver cannot wait for modem-line changes.
#include "link/comport/lines/tty/TtyLine.h"

#include "link/comport/LineWaits.h"
#include "link/comport/lines/tty/TtyModemWatch.h"

#include <cerrno>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace {
// Modem lines whose driver cannot wait for a change are looked at this
// often: CTS is the printer's ready line.
constexpr int modemTickMs = 20;
} // namespace

int TtyLine::ModemStatus(TComSignals& lines) {
    lines = {};
    // The lines of a device that has gone are off.
    if (hungUp_)
        return 0;
    int bits = 0;
    if (has(ModemLines) && ioctl(fd_, TIOCMGET, &bits) != 0) {
        const int err = errno;
        if (WinError::DeviceGone(err))
            return queryFailed(err);
        if (!unsupported(ModemLines, err))
            return WinError::FromErrno(err);
    }
    // A device without modem lines (a pseudo-terminal) reports them on, so
    // that a printer emulation on it counts as ready.
    if (!has(ModemLines))
        bits = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    if (bits & TIOCM_CTS)
        lines.Include(csCTS);
    if (bits & TIOCM_DSR)
        lines.Include(csDSR);
    if (bits & TIOCM_RNG)
        lines.Include(csRing);
    if (bits & TIOCM_CAR)
        lines.Include(csRLSD);
    return 0;
}

int TtyLine::InputWaiting(int& count) {
    count = 0;
    if (hungUp_)
        return 0;
    if (ioctl(fd_, TIOCINQ, &count) == 0)
        return 0;
    count = 0;
    return queryFailed(errno);
}

void TtyLine::sampleErrorsLocked() {
    if (!hungUp_)
        sampleCountersLocked();
}

void TtyLine::sampleLocked() {
    if (hungUp_)
        return;
    // The modem lines only when they may have changed: on some adapters
    // each look is a transfer on the USB. The counters and the input queue
    // cost nothing to look at.
    if (modemDue_.exchange(false) || (has(ModemLines) && !modemWatched()))
        sampleModemLocked();
    sampleCountersLocked();
    sampleInputLocked();
}

void TtyLine::sampleModemLocked() {
    if (!has(ModemLines))
        return;
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) {
        if (WinError::DeviceGone(errno))
            hangUpLocked();
        else
            unsupported(ModemLines, errno);
        return;
    }
    const int changed = bits ^ lastModem_;
    if (changed & TIOCM_CTS)
        pending_.Include(evCTS);
    if (changed & TIOCM_DSR)
        pending_.Include(evDSR);
    if (changed & TIOCM_CAR)
        pending_.Include(evRLSD);
    if (changed & bits & TIOCM_RNG)
        pending_.Include(evRing);
    lastModem_ = bits;
}
void TtyLine::sampleCountersLocked() {
    if (!has(Counters))
        return;
    serial_icounter_struct c{};
    if (ioctl(fd_, TIOCGICOUNT, &c) != 0) {
        if (WinError::DeviceGone(errno))
            hangUpLocked();
        else
            unsupported(Counters, errno);
        return;
    }
    const Counts now{c.cts,     c.dsr,    c.rng, c.dcd,        c.frame,
                     c.overrun, c.parity, c.brk, c.buf_overrun};
    // Lines that went off and on again between two looks.
    if (now.cts != lastCounts_.cts)
        pending_.Include(evCTS);
    if (now.dsr != lastCounts_.dsr)
        pending_.Include(evDSR);
    if (now.dcd != lastCounts_.dcd)
        pending_.Include(evRLSD);
    if (now.rng != lastCounts_.rng)
        pending_.Include(evRing);
    TComErrors found;
    if (now.frame != lastCounts_.frame)
        found.Include(ceFrame);
    if (now.overrun != lastCounts_.overrun)
        found.Include(ceOverrun);
    if (now.parity != lastCounts_.parity)
        found.Include(ceRxParity);
    if (now.bufOverrun != lastCounts_.bufOverrun)
        found.Include(ceRxOver);
    if (now.brk != lastCounts_.brk) {
        found.Include(ceBreak);
        pending_.Include(evBreak);
    }
    if (!found.Empty()) {
        errors_ |= found;
        pending_.Include(evError);
    }
    lastCounts_ = now;
}

void TtyLine::sampleInputLocked() {
    int waiting = 0;
    if (ioctl(fd_, TIOCINQ, &waiting) != 0) {
        if (WinError::DeviceGone(errno))
            hangUpLocked();
        return;
    }
    inputGrewLocked(lastInput_, waiting);
    lastInput_ = waiting;
}

void TtyLine::startModemWatch() {
    std::lock_guard lock(watchMutex_);
    if (modemWatchTried_ || !has(ModemLines))
        return;
    modemWatchTried_ = true;
    modemWatch_ = std::make_unique<TtyModemWatch>(fd_, [this] {
        modemDue_ = true;
        wake();
    });
}

bool TtyLine::modemWatched() {
    std::lock_guard lock(watchMutex_);
    return modemWatch_ && modemWatch_->Watching();
}

// How long the event thread may wait before it must look again: for ever,
// unless the modem lines can only be looked at.
int TtyLine::tickMs() {
    return !hungUp_ && has(ModemLines) && !modemWatched() ? modemTickMs : -1;
}

TComEvents TtyLine::WaitEvents(TComEvents mask) {
    startModemWatch();
    return DescriptorLine::WaitEvents(mask);
}

// A driver removing its port waits for every modem-line wait on it to end,
// and the watch's wait would end only with Close.
void TtyLine::look() {
    if (!hungUp_)
        return;
    std::lock_guard lock(watchMutex_);
    modemWatch_.reset();
}

// Blocks until the wake-up descriptor or the line says there may be
// something to report. A line that hung up leaves the set, so the thread
// neither spins on it nor touches it again.
void TtyLine::waitForActivity() {
    unwatchIfHungUp({fd_});
    epoll_event ready[2] = {};
    const int n = epoll_wait(pollFd_, ready, 2, tickMs());
    if (n < 0 && errno != EINTR) {
        hangUp();
        return;
    }
    for (int i = 0; i < n; ++i) {
        if (ready[i].data.fd == wakeFd_) {
            LineWaits::drainCounter(wakeFd_);
        } else if (ready[i].events & (EPOLLHUP | EPOLLERR)) {
            hangUp();
        }
    }
}
