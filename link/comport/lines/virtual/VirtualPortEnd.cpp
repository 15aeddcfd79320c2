#include "link/comport/lines/virtual/VirtualPortEnd.h"

#include <QObject>
#include <QThread>

#include <algorithm>

namespace {
using Clock = VirtualLine::Clock;
} // namespace

VirtualPortEnd::~VirtualPortEnd() {
    {
        std::lock_guard lock(line_->mutex_);
        line_->open_ = false;
        line_->hungUp_ = false;
        line_->txBusy_ = false;
        line_->txBlock_.clear();
        line_->input_.clear();
        line_->events_ = {};
        line_->cancelWait_ = false;
    }
    line_->notifyOpen(false);
}

int VirtualPortEnd::SetupComm(int inputSize, int) {
    std::lock_guard lock(line_->mutex_);
    if (line_->hungUp_)
        return WinError::IoDevice;
    line_->inputSize_ = std::max(inputSize, 1);
    return 0;
}

int VirtualPortEnd::SetCommState(const TDCB& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
        dcb.StopBits > 2)
        return WinError::InvalidParameter;
    std::lock_guard lock(line_->mutex_);
    if (line_->hungUp_)
        return WinError::IoDevice;
    const auto now = Clock::now();
    line_->advanceLocked(now);
    const bool wasHeld = (line_->dcb_.Flags & TDCB::fOutxCtsFlow) && !line_->cts_;
    line_->dcb_ = dcb;
    const bool held = (dcb.Flags & TDCB::fOutxCtsFlow) && !line_->cts_;
    if (wasHeld && !held)
        line_->txCursor_ = std::max(line_->txCursor_, now);
    line_->changed_.notify_all();
    return 0;
}

int VirtualPortEnd::SetCommTimeouts(const TCommTimeouts& timeouts) {
    std::lock_guard lock(line_->mutex_);
    line_->timeouts_ = timeouts;
    return 0;
}

int VirtualPortEnd::Write(const char* data, int count, int& written) {
    written = 0;
    VirtualLine& l = *line_;
    std::unique_lock lock(l.mutex_);
    if (l.hungUp_ || !l.plugged_)
        return WinError::IoDevice;
    if (l.writeFault_)
        return l.writeFault_;
    if (count == 0)
        return 0;
    const auto start = Clock::now();
    const auto deadline = TransferDeadlines::ForWrite(l.timeouts_, count, start).Total();
    l.beginBlockLocked(QByteArray(data, count), start);
    auto lastHeldTick = start;
    for (;;) {
        const auto now = Clock::now();
        l.advanceLocked(now);
        if (l.hungUp_) {
            l.txBlock_.clear();
            return WinError::IoDevice;
        }
        if (!l.txBusy_)
            break;
        if (now >= deadline) {
            // The write time-out drops what has not left, as a real port
            // purges its output; the transmitter is then idle.
            l.txBusy_ = false;
            l.raiseLocked({evTxEmpty});
            break;
        }
        const bool held = (l.dcb_.Flags & TDCB::fOutxCtsFlow) && !l.cts_;
        const bool receiver = l.receiver_.set;
        const bool receiverHere = receiver && l.receiver_.context &&
                                  l.receiver_.context->thread() == QThread::currentThread();
        if (receiver && !l.arrived_.isEmpty()) {
            lock.unlock();
            l.deliverArrivals(false);
            lock.lock();
            continue;
        }
        if (held && receiverHere && now - lastHeldTick >= VirtualLine::HeldStep) {
            lastHeldTick = now;
            lock.unlock();
            l.deliverArrivals(true);
            lock.lock();
            continue;
        }
        const auto next = l.nextWriteLookLocked(now, deadline, held, receiverHere);
        if (next == Clock::time_point::max())
            l.changed_.wait(lock);
        else
            l.changed_.wait_until(lock, next);
    }
    written = l.txSent_;
    l.txBlock_.clear();
    lock.unlock();
    l.deliverArrivals(false);
    return 0;
}

int VirtualPortEnd::takeInputLocked(char* data, int count) {
    const int n = std::min(count, int(line_->input_.size()));
    std::copy_n(line_->input_.constData(), n, data);
    line_->input_.remove(0, n);
    return n;
}

int VirtualPortEnd::Read(char* data, int count, int& read) {
    read = 0;
    VirtualLine& l = *line_;
    std::unique_lock lock(l.mutex_);
    if (l.hungUp_ || !l.plugged_)
        return WinError::IoDevice;
    if (l.readFault_)
        return l.readFault_;
    const auto start = Clock::now();
    const auto deadlines = TransferDeadlines::ForRead(l.timeouts_, count, start);
    auto last = start;
    for (;;) {
        const int got = takeInputLocked(data + read, count - read);
        if (got > 0) {
            read += got;
            last = Clock::now();
        }
        if (read == count || l.hungUp_)
            break;
        const auto until = deadlines.ReadUntil(read, last);
        if (until <= Clock::now())
            break;
        if (until == Clock::time_point::max())
            l.changed_.wait(lock);
        else
            l.changed_.wait_until(lock, until);
    }
    return 0;
}

int VirtualPortEnd::ReadWaiting(char* data, int count, int& read) {
    std::lock_guard lock(line_->mutex_);
    if (line_->hungUp_)
        return WinError::IoDevice;
    read = takeInputLocked(data, count);
    return 0;
}

int VirtualPortEnd::Purge(bool output, bool input) {
    std::lock_guard lock(line_->mutex_);
    if (output && line_->txBusy_) {
        line_->txBusy_ = false;
        line_->txBlock_.clear();
    }
    if (input)
        line_->input_.clear();
    return 0;
}

int VirtualPortEnd::ModemStatus(TComSignals& lines) {
    std::lock_guard lock(line_->mutex_);
    lines = {};
    if (line_->hungUp_)
        return 0;
    if (line_->cts_)
        lines.Include(csCTS);
    if (line_->dsr_)
        lines.Include(csDSR);
    if (line_->rlsd_)
        lines.Include(csRLSD);
    return 0;
}

int VirtualPortEnd::InputWaiting(int& count) {
    std::lock_guard lock(line_->mutex_);
    count = line_->hungUp_ ? 0 : int(line_->input_.size());
    return 0;
}

int VirtualPortEnd::ClearError(TComErrors& errors, int& inputCount) {
    std::lock_guard lock(line_->mutex_);
    errors = std::exchange(line_->errors_, TComErrors());
    inputCount = line_->hungUp_ ? 0 : int(line_->input_.size());
    return 0;
}

TComEvents VirtualPortEnd::WaitEvents(TComEvents mask) {
    std::unique_lock lock(line_->mutex_);
    for (;;) {
        if (std::exchange(line_->cancelWait_, false))
            return {};
        // Events outside the mask are not kept, as the port asked not to
        // hear of them.
        const TComEvents events = std::exchange(line_->events_, TComEvents()) & mask;
        if (!events.Empty())
            return events;
        line_->changed_.wait(lock);
    }
}

void VirtualPortEnd::CancelWait() {
    std::lock_guard lock(line_->mutex_);
    line_->cancelWait_ = true;
    line_->changed_.notify_all();
}
