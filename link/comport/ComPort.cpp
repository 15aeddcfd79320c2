#include "link/comport/ComPort.h"

#include "link/comport/PortMap.h"
#include "link/comport/SerialLine.h"
#include "link/comport/TtyLine.h"
#include "link/comport/VirtualLine.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

// ---------------------------------------------------------------------------
// EComPort and the exception hook

namespace {
const char* const codeTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set SyncMethod while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
};

QString messageFor(int errorCode, int systemErrorCode) {
    QString text = EComPort::CodeText(errorCode);
    if (systemErrorCode != -1)
        text += QStringLiteral(" (win error code: %1)").arg(systemErrorCode);
    return text;
}

std::mutex hookMutex;
TComExceptionHook& exceptionHook() {
    static TComExceptionHook hook;
    return hook;
}

void reportException(const std::exception& e) {
    TComExceptionHook hook;
    {
        std::lock_guard lock(hookMutex);
        hook = exceptionHook();
    }
    try {
        if (hook) {
            hook(e);
            return;
        }
    } catch (...) {
        // A failing display must not take the event thread down with it.
    }
    std::fprintf(stderr, "%s\n", e.what());
}

void reportCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        reportException(e);
    } catch (...) {
        reportException(std::runtime_error("Unknown exception"));
    }
}
} // namespace

EComPort::EComPort(int errorCode, int systemErrorCode)
    : std::runtime_error(messageFor(errorCode, systemErrorCode).toStdString()),
      errorCode_(errorCode), systemErrorCode_(systemErrorCode) {}

QString EComPort::Message() const {
    return QString::fromUtf8(what());
}

QString EComPort::CodeText(int errorCode) {
    if (errorCode < 1 || errorCode > int(std::size(codeTexts)))
        return {};
    return QString::fromLatin1(codeTexts[errorCode - 1]);
}

TComExceptionHook SetComExceptionHook(TComExceptionHook hook) {
    std::lock_guard lock(hookMutex);
    return std::exchange(exceptionHook(), std::move(hook));
}

// ---------------------------------------------------------------------------
// Opening a line by port name

std::unique_ptr<SerialLine> OpenSerialLine(const QString& portName, int& winError) {
    const QString device = PortMap::device(portName);
    if (device.isEmpty()) {
        winError = WinError::FileNotFound;
        return nullptr;
    }
    if (device == QLatin1String(PortMap::VirtualDevice)) {
        const auto line = PortMap::virtualLine(portName);
        if (!line) {
            winError = WinError::FileNotFound;
            return nullptr;
        }
        return line->openPort(winError);
    }
    return TtyLine::open(device, winError);
}

// ---------------------------------------------------------------------------
// Settings objects

void TComParity::SetBits(TParityBits value) {
    if (value != bits_) {
        bits_ = value;
        owner_->settingChanged(&TCustomComPort::ApplyDCB);
    }
}
void TComParity::SetCheck(bool value) {
    if (value != check_) {
        check_ = value;
        owner_->settingChanged(&TCustomComPort::ApplyDCB);
    }
}
void TComParity::SetReplace(bool value) {
    if (value != replace_) {
        replace_ = value;
        owner_->settingChanged(&TCustomComPort::ApplyDCB);
    }
}
void TComParity::SetReplaceChar(char value) {
    if (value != replaceChar_) {
        replaceChar_ = value;
        owner_->settingChanged(&TCustomComPort::ApplyDCB);
    }
}

template <typename T> void TComFlowControl::set(T& field, T value) {
    if (field != value) {
        field = value;
        owner_->settingChanged(&TCustomComPort::ApplyDCB);
    }
}
void TComFlowControl::SetOutCTSFlow(bool value) {
    set(outCTSFlow_, value);
}
void TComFlowControl::SetOutDSRFlow(bool value) {
    set(outDSRFlow_, value);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
    set(controlDTR_, value);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
    set(controlRTS_, value);
}
void TComFlowControl::SetXonXoffOut(bool value) {
    set(xonXoffOut_, value);
}
void TComFlowControl::SetXonXoffIn(bool value) {
    set(xonXoffIn_, value);
}
void TComFlowControl::SetDSRSensitivity(bool value) {
    set(dsrSensitivity_, value);
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
    set(txContinueOnXoff_, value);
}
void TComFlowControl::SetXonChar(char value) {
    set(xonChar_, value);
}
void TComFlowControl::SetXoffChar(char value) {
    set(xoffChar_, value);
}

void TComTimeouts::set(int& field, int value) {
    if (field != value) {
        field = value;
        owner_->settingChanged(&TCustomComPort::ApplyTimeouts);
    }
}
void TComTimeouts::SetReadInterval(int value) {
    set(readInterval_, value);
}
void TComTimeouts::SetReadTotalMultiplier(int value) {
    set(readTotalMultiplier_, value);
}
void TComTimeouts::SetReadTotalConstant(int value) {
    set(readTotalConstant_, value);
}
void TComTimeouts::SetWriteTotalMultiplier(int value) {
    set(writeTotalMultiplier_, value);
}
void TComTimeouts::SetWriteTotalConstant(int value) {
    set(writeTotalConstant_, value);
}

void TComBuffer::SetInputSize(int value) {
    if (value != inputSize_) {
        inputSize_ = value;
        owner_->settingChanged(&TCustomComPort::ApplyBuffer);
    }
}
void TComBuffer::SetOutputSize(int value) {
    if (value != outputSize_) {
        outputSize_ = value;
        owner_->settingChanged(&TCustomComPort::ApplyBuffer);
    }
}

// ---------------------------------------------------------------------------
// The event thread

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

// ---------------------------------------------------------------------------
// The port

TCustomComPort::TCustomComPort(QObject* parent)
    : QObject(parent), handOver_(std::make_shared<HandOver>()) {}

TCustomComPort::~TCustomComPort() {
    try {
        Close();
    } catch (...) {
        reportCurrentException();
    }
}

QString TCustomComPort::NormalisePortName(const QString& name) {
    const QString head = name.left(3).toUpper();
    const QString number = head == QLatin1String("COM") ? name.mid(3) : name;
    bool ok = false;
    int n = number.toInt(&ok, 10);
    if (!ok || n < 1 || n > 96)
        n = 1;
    return QStringLiteral("COM%1").arg(n);
}

void TCustomComPort::SetPort(const QString& Value) {
    const QString name = NormalisePortName(Value);
    if (name == port_)
        return;
    port_ = name;
    if (connected_) {
        Close();
        Open();
    }
}

void TCustomComPort::SetBaudRate(TBaudRate Value) {
    if (Value != baudRate_) {
        baudRate_ = Value;
        settingChanged(&TCustomComPort::ApplyDCB);
    }
}
void TCustomComPort::SetCustomBaudRate(int Value) {
    if (Value != customBaudRate_) {
        customBaudRate_ = Value;
        settingChanged(&TCustomComPort::ApplyDCB);
    }
}
void TCustomComPort::SetDataBits(TDataBits Value) {
    if (Value != dataBits_) {
        dataBits_ = Value;
        settingChanged(&TCustomComPort::ApplyDCB);
    }
}
void TCustomComPort::SetStopBits(TStopBits Value) {
    if (Value != stopBits_) {
        stopBits_ = Value;
        settingChanged(&TCustomComPort::ApplyDCB);
    }
}
void TCustomComPort::SetEventChar(char Value) {
    if (Value != eventChar_) {
        eventChar_ = Value;
        settingChanged(&TCustomComPort::ApplyDCB);
    }
}
void TCustomComPort::SetDiscardNull(bool Value) {
    if (Value != discardNull_) {
        discardNull_ = Value;
        settingChanged(&TCustomComPort::ApplyDCB);
    }
}

void TCustomComPort::SetEvents(TComEvents Value) {
    events_ = Value;
    if (thread_)
        thread_->mask_ = Value.Bits();
}

void TCustomComPort::SetSyncMethod(TSyncMethod Value) {
    if (Value == syncMethod_)
        return;
    if (connected_)
        throw EComPort(14);
    syncMethod_ = Value;
}

void TCustomComPort::SetTriggersOnRxChar(bool Value) {
    if (Value == triggersOnRxChar_)
        return;
    if (std::any_of(links_.begin(), links_.end(), [](TComLink* l) { return bool(l->OnRxBuf); }))
        throw EComPort(22);
    triggersOnRxChar_ = Value;
}

void TCustomComPort::SetConnected(bool Value) {
    if (Value)
        Open();
    else
        Close();
}

void TCustomComPort::settingChanged(void (TCustomComPort::*apply)()) {
    if (applying())
        (this->*apply)();
}

void TCustomComPort::BeginUpdate() {
    ++updateCount_;
}

void TCustomComPort::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0 && connected_)
        SetupComPort();
}

void TCustomComPort::RegisterLink(TComLink* Link) {
    if (!Link || std::find(links_.begin(), links_.end(), Link) != links_.end())
        throw EComPort(18);
    links_.push_back(Link);
}

void TCustomComPort::UnRegisterLink(TComLink* Link) {
    const auto it = std::find(links_.begin(), links_.end(), Link);
    if (it == links_.end())
        throw EComPort(18);
    links_.erase(it);
}

void TCustomComPort::forEachLink(const std::function<void(TComLink&)>& call) {
    // A handler may unregister links (an LED destroyed while it processes
    // events), so each one is checked just before it is told.
    const auto snapshot = links_;
    for (TComLink* link : snapshot)
        if (std::find(links_.begin(), links_.end(), link) != links_.end())
            call(*link);
}

TDCB TCustomComPort::BuildDCB() const {
    TDCB dcb;
    dcb.BaudRate = uint32_t(BaudRateValue(baudRate_, customBaudRate_));
    uint32_t f = TDCB::fBinary;
    if (parity_.Check())
        f |= TDCB::fParity;
    if (flowControl_.OutCTSFlow())
        f |= TDCB::fOutxCtsFlow;
    if (flowControl_.OutDSRFlow())
        f |= TDCB::fOutxDsrFlow;
    f |= uint32_t(flowControl_.ControlDTR()) << 4;
    if (flowControl_.DSRSensitivity())
        f |= TDCB::fDsrSensitivity;
    if (flowControl_.TxContinueOnXoff())
        f |= TDCB::fTXContinueOnXoff;
    if (flowControl_.XonXoffOut())
        f |= TDCB::fOutX;
    if (flowControl_.XonXoffIn())
        f |= TDCB::fInX;
    if (parity_.Check() && parity_.Replace())
        f |= TDCB::fErrorChar;
    if (discardNull_)
        f |= TDCB::fNull;
    f |= uint32_t(flowControl_.ControlRTS()) << 12;
    dcb.Flags = f;
    dcb.XonLim = dcb.XoffLim = uint16_t(buffer_.InputSize() / 4);
    dcb.ByteSize = uint8_t(5 + int(dataBits_));
    dcb.Parity = uint8_t(parity_.Bits());
    dcb.StopBits = uint8_t(stopBits_);
    dcb.XonChar = flowControl_.XonChar();
    dcb.XoffChar = flowControl_.XoffChar();
    dcb.ErrorChar = (parity_.Check() && parity_.Replace()) ? parity_.ReplaceChar() : 0;
    dcb.EvtChar = eventChar_;
    return dcb;
}

TCommTimeouts TCustomComPort::BuildTimeouts() const {
    TCommTimeouts t;
    t.ReadIntervalTimeout = uint32_t(timeouts_.ReadInterval());
    t.ReadTotalTimeoutMultiplier = uint32_t(timeouts_.ReadTotalMultiplier());
    t.ReadTotalTimeoutConstant = uint32_t(timeouts_.ReadTotalConstant());
    t.WriteTotalTimeoutMultiplier = uint32_t(timeouts_.WriteTotalMultiplier());
    t.WriteTotalTimeoutConstant = uint32_t(timeouts_.WriteTotalConstant());
    return t;
}

void TCustomComPort::CreateHandle() {
    int error = 0;
    std::unique_ptr<SerialLine> line = OpenSerialLine(port_, error);
    if (!line)
        throw EComPort(1, error);
    line_ = std::move(line);
}

void TCustomComPort::DestroyHandle() {
    line_.reset();
}

void TCustomComPort::SetupComPort() {
    ApplyBuffer();
    ApplyDCB();
    ApplyTimeouts();
}

void TCustomComPort::ApplyDCB() {
    if (!applying())
        return;
    if (const int error = line_->SetCommState(BuildDCB()))
        throw EComPort(7, error);
}

void TCustomComPort::ApplyTimeouts() {
    if (!applying())
        return;
    if (const int error = line_->SetCommTimeouts(BuildTimeouts()))
        throw EComPort(8, error);
}

void TCustomComPort::ApplyBuffer() {
    if (!applying())
        return;
    if (const int error = line_->SetupComm(buffer_.InputSize(), buffer_.OutputSize()))
        throw EComPort(9, error);
}

void TCustomComPort::Open() {
    if (connected_)
        return;
    DoBeforeOpen();
    CreateHandle();
    connected_ = true;
    try {
        SetupComPort();
    } catch (...) {
        DestroyHandle();
        connected_ = false;
        throw;
    }
    handOver_ = std::make_shared<HandOver>();
    if (!events_.Empty()) {
        if (handOver_->bell < 0) {
            const int error = WinError::FromErrno(errno);
            DestroyHandle();
            connected_ = false;
            throw EComPort(1, error);
        }
        bellNotifier_ = std::make_unique<QSocketNotifier>(handOver_->bell, QSocketNotifier::Read);
        connect(bellNotifier_.get(), &QSocketNotifier::activated, this,
                &TCustomComPort::runHandOver);
        thread_ = std::make_unique<TComThread>(this, line_.get(), events_);
        thread_->Start();
    }
    forEachLink([this](TComLink& l) {
        if (l.OnConn)
            l.OnConn(this, true);
    });
    DoAfterOpen();
    CheckSignals(true);
}

void TCustomComPort::Close() {
    if (!connected_ || closing_)
        return;
    closing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } resetClosing{closing_};

    // From here on a batch the event thread is handing over is dropped rather
    // than run: its handlers would report the lines of a port that is going.
    // This also frees the event thread if a handler of its batch is what
    // called Close.
    {
        std::lock_guard lock(handOver_->mutex);
        handOver_->abandon = true;
    }
    handOver_->done.notify_all();

    // The lines are reported off first, so the LEDs and the handlers see the
    // printer go away before the port does. A handler that raises does not
    // keep the port open: its exception is passed on once the port is closed.
    std::exception_ptr handlerError;
    try {
        CheckSignals(false);
        // The transmitter-empty report that would have put the Tx lamp out
        // may be in the batch just dropped.
        if (txActive_)
            setTxActive(false);
        DoBeforeClose();
    } catch (...) {
        handlerError = std::current_exception();
    }

    // A failed purge still closes the port (a port that cannot be closed
    // could never be reopened); the failure is raised once it is closed.
    const int purgeError = line_->Purge(true, true);
    stopThread();
    DestroyHandle();
    connected_ = false;
    forEachLink([this](TComLink& l) {
        if (l.OnConn)
            l.OnConn(this, false);
    });
    DoAfterClose();
    if (handlerError)
        std::rethrow_exception(handlerError);
    if (purgeError)
        throw EComPort(5, purgeError);
}

void TCustomComPort::stopThread() {
    if (!thread_)
        return;
    thread_->Stop();
    thread_->WaitFor();
    thread_.reset();
    bellNotifier_.reset();
}

int TCustomComPort::Write(const void* Buffer, int Count) {
    if (!connected_)
        throw EComPort(2, WinError::InvalidHandle);
    if (Count < 0 || (Count > 0 && !Buffer))
        throw EComPort(2, WinError::InvalidParameter);
    // Nothing to send starts no transmission, so no transmitter-empty report
    // would follow: the Tx lamp stays as it is. A failed line still says so.
    if (Count == 0) {
        int none = 0;
        if (const int error = line_->Write(static_cast<const char*>(Buffer), 0, none))
            throw EComPort(2, error);
        return 0;
    }
    const std::shared_ptr<SerialLine> line = line_;
    // The bytes are copied first: a handler run while the LED processes
    // events may reuse the caller's buffer.
    const QByteArray data(static_cast<const char*>(Buffer), Count);
    setTxActive(true);
    if (!connected_ || line != line_)
        throw EComPort(2, WinError::InvalidHandle);
    int written = 0;
    if (const int error = line->Write(data.constData(), Count, written)) {
        // Nor does a write that failed end in a transmitter-empty report.
        setTxActive(false);
        throw EComPort(2, error);
    }
    forEachLink([this, &data, written](TComLink& l) {
        if (l.OnTxBuf)
            l.OnTxBuf(this, data.constData(), written);
    });
    return written;
}

void TCustomComPort::setTxActive(bool on) {
    txActive_ = on;
    forEachLink([this, on](TComLink& l) {
        if (l.OnTx)
            l.OnTx(this, on);
    });
}

int TCustomComPort::Read(void* Buffer, int Count) {
    if (!connected_)
        throw EComPort(3, WinError::InvalidHandle);
    if (Count < 0 || (Count > 0 && !Buffer))
        throw EComPort(3, WinError::InvalidParameter);
    int read = 0;
    if (const int error = line_->Read(static_cast<char*>(Buffer), Count, read))
        throw EComPort(3, error);
    int waiting = 0;
    if (line_->InputWaiting(waiting) == 0 && waiting == 0)
        forEachLink([this](TComLink& l) {
            if (l.OnRx)
                l.OnRx(this, false);
        });
    return read;
}

TComSignals TCustomComPort::Signals() {
    if (!connected_)
        throw EComPort(11, WinError::InvalidHandle);
    TComSignals lines;
    if (const int error = line_->ModemStatus(lines))
        throw EComPort(11, error);
    return lines;
}

int TCustomComPort::InputCount() {
    if (!connected_)
        throw EComPort(10, WinError::InvalidHandle);
    int count = 0;
    if (const int error = line_->InputWaiting(count))
        throw EComPort(10, error);
    return count;
}

void TCustomComPort::ClearBuffer(bool Input, bool Output) {
    if (!connected_)
        throw EComPort(5, WinError::InvalidHandle);
    if (const int error = line_->Purge(Output, Input))
        throw EComPort(5, error);
}

// ---------------------------------------------------------------------------
// Events

void TCustomComPort::CheckSignals(bool Open) {
    if (Open) {
        CallCTSChange();
        CallDSRChange();
        CallRLSDChange();
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
        throw EComPort(10, error);
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
            throw EComPort(3, error);
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
    const bool on = Signals().Contains(csCTS);
    forEachLink([this, on](TComLink& l) {
        if (l.OnCTSChange)
            l.OnCTSChange(this, on);
    });
    DoCTSChange(on);
}

void TCustomComPort::CallDSRChange() {
    const bool on = Signals().Contains(csDSR);
    forEachLink([this, on](TComLink& l) {
        if (l.OnDSRChange)
            l.OnDSRChange(this, on);
    });
    DoDSRChange(on);
}

void TCustomComPort::CallRLSDChange() {
    const bool on = Signals().Contains(csRLSD);
    forEachLink([this, on](TComLink& l) {
        if (l.OnRLSDChange)
            l.OnRLSDChange(this, on);
    });
    DoRLSDChange(on);
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

// ---------------------------------------------------------------------------
// Event dispatchers

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
