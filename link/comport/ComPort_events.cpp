// The event thread and the hand-over of its events to the GUI thread: the
// thread waits on the line, each batch runs there in its fixed order while
// the thread waits, and Close can always end the wait. Then the event
// dispatchers (Do...), which call the port's event properties.
#include "link/comport/ComPort.h"

#include "link/comport/ComPortReport.h"
#include "link/comport/SerialLine.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

TComThread::TComThread(TCustomComPort* port, SerialLine* line, TComEvents mask)
    : port_(port), line_(line), mask_(mask.Bits()) {}

TComThread::~TComThread() {
    if (thread_.joinable()) {
        Stop();
        thread_.join();
    }
}

void TComThread::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void TComThread::WaitFor() {
    if (thread_.joinable())
        thread_.join();
}

void TComThread::Stop() {
    stop_ = true;
    line_->CancelWait();
}

void TComThread::Execute() {
    // Named, so that a look at the process's threads finds it.
    pthread_setname_np(pthread_self(), "TComThread");
    while (!stop_) {
        const TComEvents events = line_->WaitEvents(TComEvents::FromBits(mask_.load()));
        if (stop_)
            break;
        if (events.Empty())
            continue;
        port_->DispatchComMsg(events);
    }
}

void TCustomComPort::CheckSignals(bool Open) {
    if (Open) {
        const quint64 opening = openings_;
        for (auto call : {&TCustomComPort::CallCTSChange, &TCustomComPort::CallDSRChange,
                          &TCustomComPort::CallRLSDChange})
            if (stillOpen(opening))
                (this->*call)();
        return;
    }
    forEachLink([this](TComLink& l) {
        if (l.OnCTSChange)
            l.OnCTSChange(this, false);
        if (l.OnDSRChange)
            l.OnDSRChange(this, false);
        if (l.OnRLSDChange)
            l.OnRLSDChange(this, false);
    });
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
}

void TCustomComPort::DoEvents(TComEvents Events) {
    static constexpr TComEvent order[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                          evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
    for (TComEvent event : order) {
        if (!Events.Contains(event))
            continue;
        // A handler may have closed the port: the rest of the batch is moot.
        if (!connected_ || closing_)
            return;
        runGuarded([this, event] { CallEvent(event); });
    }
}

void TCustomComPort::CallEvent(TComEvent event) {
    switch (event) {
    case evError:
        CallError();
        break;
    case evRxChar:
        CallRxChar();
        break;
    case evTxEmpty:
        CallTxEmpty();
        break;
    case evBreak:
        DoBreak();
        break;
    case evRing:
        forEachLink([this](TComLink& l) {
            if (l.OnRing)
                l.OnRing(this);
        });
        DoRing();
        break;
    case evCTS:
        CallCTSChange();
        break;
    case evDSR:
        CallDSRChange();
        break;
    case evRxFlag:
        forEachLink([this](TComLink& l) {
            if (l.OnRxFlag)
                l.OnRxFlag(this);
        });
        DoRxFlag();
        break;
    case evRLSD:
        CallRLSDChange();
        break;
    case evRx80Full:
        DoRx80Full();
        break;
    }
}

void TCustomComPort::CallError() {
    TComErrors errors;
    int count = 0;
    if (const int error = line_->ClearError(errors, count))
        throw EComPort(EComPort::ClearComFailed, error);
    if (!parity_.Check())
        errors.Exclude(ceRxParity);
    if (!errors.Empty())
        DoError(errors);
}

void TCustomComPort::CallRxChar() {
    int count = InputCount();
    if (count > 0)
        forEachLink([this](TComLink& l) {
            if (l.OnRx)
                l.OnRx(this, true);
        });
    const bool blockLinks =
        std::any_of(links_.begin(), links_.end(), [](TComLink* l) { return bool(l->OnRxBuf); });
    if (count > 0 && (blockLinks || !triggersOnRxChar_)) {
        QByteArray block(count, Qt::Uninitialized);
        int read = 0;
        if (const int error = line_->ReadWaiting(block.data(), count, read))
            throw EComPort(EComPort::ReadFailed, error);
        block.truncate(read);
        forEachLink([this, &block](TComLink& l) {
            if (l.OnRxBuf)
                l.OnRxBuf(this, block.constData(), int(block.size()));
        });
        DoRxBuf(block.constData(), int(block.size()));
    }
    if (count > 0)
        DoRxChar(count);
}

void TCustomComPort::CallTxEmpty() {
    setTxActive(false);
    forEachLink([this](TComLink& l) {
        if (l.OnTxEmpty)
            l.OnTxEmpty(this);
    });
    DoTxEmpty();
}

void TCustomComPort::CallCTSChange() {
    callLineChange(csCTS, &TComLink::OnCTSChange, &TCustomComPort::DoCTSChange);
}

void TCustomComPort::CallDSRChange() {
    callLineChange(csDSR, &TComLink::OnDSRChange, &TCustomComPort::DoDSRChange);
}

void TCustomComPort::CallRLSDChange() {
    callLineChange(csRLSD, &TComLink::OnRLSDChange, &TCustomComPort::DoRLSDChange);
}

void TCustomComPort::callLineChange(TComSignal signal, TComLink::TStateHandler TComLink::*handler,
                                    void (TCustomComPort::*dispatch)(bool)) {
    const quint64 opening = openings_;
    const bool on = Signals().Contains(signal);
    forEachLink([&](TComLink& l) {
        if (l.*handler && stillOpen(opening))
            (l.*handler)(this, on);
    });
    // An LED told first processes events, and the operator may have closed
    // the port meanwhile: its handler would report the line of a port gone.
    if (stillOpen(opening))
        (this->*dispatch)(on);
}

void TCustomComPort::runGuarded(const std::function<void()>& work) {
    try {
        work();
    } catch (...) {
        if (QThread::currentThread() == thread()) {
            reportCurrentException();
            return;
        }
        // With smNone the handlers run on the event thread; the exception is
        // shown on the GUI thread all the same.
        QMetaObject::invokeMethod(
            this,
            [error = std::current_exception()] {
                try {
                    std::rethrow_exception(error);
                } catch (...) {
                    reportCurrentException();
                }
            },
            Qt::QueuedConnection);
    }
}

void TCustomComPort::DispatchComMsg(TComEvents events) {
    switch (syncMethod_) {
    case smThreadSync:
        handOver([this, events] { DoEvents(events); });
        break;
    case smWindowSync:
        // One synchronous message per event, in the same order.
        for (TComEvent event : {evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR,
                                evRxFlag, evRLSD, evRx80Full})
            if (events.Contains(event))
                handOver([this, event] { DoEvents(TComEvents{event}); });
        break;
    case smNone:
        DoEvents(events);
        break;
    }
}

void TCustomComPort::handOver(const std::function<void()>& work) {
    const std::shared_ptr<HandOver> h = handOver_;
    std::unique_lock lock(h->mutex);
    if (h->abandon)
        return;
    h->work = work;
    const quint64 id = ++h->id;
    lock.unlock();
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(h->bell, &one, sizeof one);
    lock.lock();
    h->done.wait(lock, [&] { return h->finished >= id || h->abandon; });
    h->work = nullptr;
}

TCustomComPort::HandOver::HandOver() : bell(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TCustomComPort::HandOver::~HandOver() {
    if (bell >= 0)
        ::close(bell);
}

void TCustomComPort::runHandOver() {
    const std::shared_ptr<HandOver> h = handOver_;
    uint64_t rings = 0;
    [[maybe_unused]] const auto n = ::read(h->bell, &rings, sizeof rings);
    std::function<void()> work;
    quint64 id = 0;
    {
        std::lock_guard lock(h->mutex);
        if (h->abandon || !h->work || h->finished >= h->id)
            return;
        work = std::move(h->work);
        h->work = nullptr;
        id = h->id;
    }
    work();
    {
        std::lock_guard lock(h->mutex);
        h->finished = id;
    }
    h->done.notify_all();
}

void TCustomComPort::DoAfterClose() {
    if (OnAfterClose)
        OnAfterClose(this);
}
void TCustomComPort::DoAfterOpen() {
    if (OnAfterOpen)
        OnAfterOpen(this);
}
void TCustomComPort::DoBeforeClose() {
    if (OnBeforeClose)
        OnBeforeClose(this);
}
void TCustomComPort::DoBeforeOpen() {
    if (OnBeforeOpen)
        OnBeforeOpen(this);
}
void TCustomComPort::DoRxChar(int Count) {
    if (OnRxChar)
        OnRxChar(this, Count);
}
void TCustomComPort::DoRxBuf(const char* Buffer, int Count) {
    if (OnRxBuf)
        OnRxBuf(this, Buffer, Count);
}
void TCustomComPort::DoTxEmpty() {
    if (OnTxEmpty)
        OnTxEmpty(this);
}
void TCustomComPort::DoBreak() {
    if (OnBreak)
        OnBreak(this);
}
void TCustomComPort::DoRing() {
    if (OnRing)
        OnRing(this);
}
void TCustomComPort::DoRxFlag() {
    if (OnRxFlag)
        OnRxFlag(this);
}
void TCustomComPort::DoCTSChange(bool OnOff) {
    if (OnCTSChange)
        OnCTSChange(this, OnOff);
}
void TCustomComPort::DoDSRChange(bool OnOff) {
    if (OnDSRChange)
        OnDSRChange(this, OnOff);
}
void TCustomComPort::DoError(TComErrors Errors) {
    if (OnError)
        OnError(this, Errors);
}
void TCustomComPort::DoRLSDChange(bool OnOff) {
    if (OnRLSDChange)
        OnRLSDChange(this, OnOff);
}
void TCustomComPort::DoRx80Full() {
    if (OnRx80Full)
        OnRx80Full(this);
}
