#include "link/comport/lines/virtual/VirtualLine.h"

#include "link/comport/ByteTime.h"
#include "link/comport/lines/virtual/VirtualPortEnd.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>

namespace {
using Clock = VirtualLine::Clock;

// Runs a handler on the context's thread: at once when that is this thread,
// otherwise queued to it.
template <typename Handler> void callOn(QObject* context, Handler handler) {
    if (!context)
        return;
    if (context->thread() == QThread::currentThread())
        handler();
    else
        QMetaObject::invokeMethod(context, std::move(handler), Qt::QueuedConnection);
}
} // namespace

std::shared_ptr<VirtualLine> VirtualLine::create() {
    return std::shared_ptr<VirtualLine>(new VirtualLine());
}

VirtualLine::~VirtualLine() = default;

// ---------------------------------------------------------------------------
// Far end

void VirtualLine::setReceiver(QObject* context, ArrivalHandler handler) {
    std::lock_guard lock(mutex_);
    receiver_.context = context;
    receiver_.set = context && handler;
    onArrival_ = std::move(handler);
}

QByteArray VirtualLine::takeArrived() {
    std::lock_guard lock(mutex_);
    return std::exchange(collected_, QByteArray());
}

void VirtualLine::setOpenHandler(QObject* context, OpenHandler handler) {
    std::lock_guard lock(mutex_);
    openTarget_.context = context;
    openTarget_.set = context && handler;
    onOpen_ = std::move(handler);
}

void VirtualLine::send(const QByteArray& bytes) {
    std::lock_guard lock(mutex_);
    if (!open_ || hungUp_ || bytes.isEmpty())
        return;
    // A deep copy: the caller's array may live on another thread.
    QByteArray incoming(bytes.constData(), bytes.size());
    if (dcb_.Flags & TDCB::fNull)
        incoming.removeIf([](char c) { return c == '\0'; });
    if (incoming.isEmpty())
        return;
    const int before = int(input_.size());
    const int room = std::max(0, inputSize_ - before);
    TComEvents events{evRxChar};
    if (incoming.size() > room) {
        errors_.Include(ceRxOver);
        events.Include(evError);
        incoming.truncate(room);
    }
    input_.append(incoming);
    if (incoming.contains(dcb_.EvtChar))
        events.Include(evRxFlag);
    const int full = inputSize_ * 8 / 10;
    if (before < full && int(input_.size()) >= full)
        events.Include(evRx80Full);
    raiseLocked(events);
}

void VirtualLine::setCTS(bool on) {
    std::lock_guard lock(mutex_);
    if (cts_ == on)
        return;
    const auto now = Clock::now();
    // Bytes that left before the change count as sent; a held block starts
    // again from the moment CTS comes back.
    advanceLocked(now);
    cts_ = on;
    if (on)
        txCursor_ = std::max(txCursor_, now);
    raiseLocked({evCTS});
    changed_.notify_all();
}

void VirtualLine::setDSR(bool on) {
    std::lock_guard lock(mutex_);
    if (dsr_ != on) {
        dsr_ = on;
        raiseLocked({evDSR});
    }
}

void VirtualLine::setRLSD(bool on) {
    std::lock_guard lock(mutex_);
    if (rlsd_ != on) {
        rlsd_ = on;
        raiseLocked({evRLSD});
    }
}

void VirtualLine::ring() {
    std::lock_guard lock(mutex_);
    raiseLocked({evRing});
}

bool VirtualLine::cts() const {
    std::lock_guard lock(mutex_);
    return cts_;
}
bool VirtualLine::dsr() const {
    std::lock_guard lock(mutex_);
    return dsr_;
}
bool VirtualLine::rlsd() const {
    std::lock_guard lock(mutex_);
    return rlsd_;
}
bool VirtualLine::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}
bool VirtualLine::dtr() const {
    std::lock_guard lock(mutex_);
    return open_ && dcb_.DtrControl() != dtrDisable;
}
bool VirtualLine::rts() const {
    std::lock_guard lock(mutex_);
    const TRTSFlowControl rts = dcb_.RtsControl();
    return open_ && (rts == rtsEnable || rts == rtsHandshake || (rts == rtsToggle && txBusy_));
}
TDCB VirtualLine::dcb() const {
    std::lock_guard lock(mutex_);
    return dcb_;
}
TCommTimeouts VirtualLine::timeouts() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

std::chrono::nanoseconds VirtualLine::byteTime() const {
    std::lock_guard lock(mutex_);
    return byteTimeAt(dcb_.BaudRate);
}

void VirtualLine::raiseErrors(TComErrors errors) {
    std::lock_guard lock(mutex_);
    if (!open_ || hungUp_ || errors.Empty())
        return;
    errors_ |= errors;
    TComEvents events{evError};
    if (errors.Contains(ceBreak))
        events.Include(evBreak);
    raiseLocked(events);
}

void VirtualLine::failWrites(int winError) {
    std::lock_guard lock(mutex_);
    writeFault_ = winError;
}

void VirtualLine::failReads(int winError) {
    std::lock_guard lock(mutex_);
    readFault_ = winError;
}

void VirtualLine::unplug() {
    std::lock_guard lock(mutex_);
    plugged_ = false;
    if (open_ && !hungUp_) {
        errors_.Include(ceIO);
        raiseLocked({evError, evCTS, evDSR, evRLSD});
        hungUp_ = true;
        txBusy_ = false;
    }
    changed_.notify_all();
}

void VirtualLine::plugIn() {
    std::lock_guard lock(mutex_);
    plugged_ = true;
}

bool VirtualLine::pluggedIn() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

// ---------------------------------------------------------------------------
// The line's clock

void VirtualLine::raiseLocked(TComEvents events) {
    if (!open_ || hungUp_)
        return;
    events_ |= events;
    changed_.notify_all();
}

void VirtualLine::advanceLocked(Clock::time_point now) {
    if (!txBusy_)
        return;
    const bool held = (dcb_.Flags & TDCB::fOutxCtsFlow) && !cts_;
    if (held)
        return;
    const auto perByte = byteTimeAt(dcb_.BaudRate);
    if (now <= txCursor_)
        return;
    const int remaining = int(txBlock_.size()) - txSent_;
    const int departed = int(std::min<int64_t>(remaining, (now - txCursor_) / perByte));
    if (departed > 0) {
        arrived_.append(txBlock_.constData() + txSent_, departed);
        txSent_ += departed;
        txCursor_ += departed * perByte;
    }
    if (txSent_ == int(txBlock_.size())) {
        txBusy_ = false;
        raiseLocked({evTxEmpty});
    }
}

// The transmitter takes a new block; its first byte starts at once.
void VirtualLine::beginBlockLocked(const QByteArray& block, Clock::time_point start) {
    txBlock_ = block;
    txSent_ = 0;
    txBusy_ = true;
    txCursor_ = start;
}

// When a write looks at the line again: as the block's last byte leaves a
// free line, a delivery step later while someone reads, a held step later
// while CTS holds it and the reader runs on the writing thread, and never
// past the write's deadline; max() when only an event can move it on.
VirtualLine::Clock::time_point VirtualLine::nextWriteLookLocked(Clock::time_point now,
                                                                Clock::time_point deadline,
                                                                bool held,
                                                                bool receiverHere) const {
    auto next = held ? Clock::time_point::max()
                     : txCursor_ + (int64_t(txBlock_.size()) - txSent_) * byteTimeAt(dcb_.BaudRate);
    if (receiver_.set && !held)
        next = std::min(next, now + DeliveryStep);
    if (held && receiverHere)
        next = std::min(next, now + HeldStep);
    return std::min(next, deadline);
}

void VirtualLine::deliverArrivals(bool idleTick) {
    QByteArray chunk;
    QPointer<QObject> context;
    ArrivalHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (!receiver_.set || !receiver_.context) {
            collected_.append(arrived_);
            arrived_.clear();
            return;
        }
        chunk = std::exchange(arrived_, QByteArray());
        context = receiver_.context;
        handler = onArrival_;
    }
    if (chunk.isEmpty() && !idleTick)
        return;
    if (idleTick && context && context->thread() != QThread::currentThread())
        return;
    callOn(context.data(), [handler, chunk = std::move(chunk)] { handler(chunk); });
}

void VirtualLine::notifyOpen(bool open) {
    QPointer<QObject> context;
    OpenHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (!openTarget_.set)
            return;
        context = openTarget_.context;
        handler = onOpen_;
    }
    callOn(context.data(), [handler, open] { handler(open); });
}

std::unique_ptr<SerialLine> VirtualLine::openPort(int& winError) {
    {
        std::lock_guard lock(mutex_);
        if (!plugged_) {
            winError = WinError::FileNotFound;
            return nullptr;
        }
        if (open_) {
            winError = WinError::AccessDenied;
            return nullptr;
        }
        open_ = true;
        hungUp_ = false;
        cancelWait_ = false;
        events_ = {};
        errors_ = {};
        input_.clear();
        arrived_.clear();
        txBusy_ = false;
        dcb_ = TDCB();
        dcb_.BaudRate = 9600;
        dcb_.Flags = TDCB::fBinary;
    }
    notifyOpen(true);
    return std::make_unique<VirtualPortEnd>(shared_from_this());
}
