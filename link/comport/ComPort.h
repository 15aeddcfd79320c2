#pragma once

#include "link/comport/ComTypes.h"

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

class LineOpening;
class SerialLine;
class TCustomComPort;

// The component's exception: a code from its table, and the operating
// system's error (-1 when none came with it), appended to the message.
class EComPort : public std::runtime_error {
public:
    // The codes of the component's table, 1 to 22 in its order: the
    // table's texts are looked up by them.
    enum Code : int {
        OpenFailed = 1,
        WriteFailed,
        ReadFailed,
        InvalidAsync,
        PurgeFailed,
        AsyncCheckFailed,
        SetStateFailed,
        SetTimeoutsFailed,
        SetupComFailed,
        ClearComFailed,
        ModemStatusFailed,
        EscapeComFailed,
        TransmitCharFailed,
        SyncMethodWhileOpen,
        EnumPortsFailed,
        StoreFailed,
        LoadFailed,
        RegisterLinkFailed,
        LedStateWithPort,
        WaitWithThread,
        WaitFailed,
        RxBufLinked,
    };

    explicit EComPort(int errorCode, int systemErrorCode = -1);
    int ErrorCode() const { return errorCode_; }
    int SystemErrorCode() const { return systemErrorCode_; }
    QString Message() const;
    // The fixed text for a code of the table (1 ... 22); empty otherwise.
    static QString CodeText(int errorCode);

private:
    int errorCode_;
    int systemErrorCode_;
};

// Where an exception that leaves an event handler goes. The port never lets
// one end its event thread; main() points this at the application's
// exception display. Until set (or after setting an empty one) the message
// goes to stderr. Always called on the GUI thread. Returns the previous hook.
using TComExceptionHook = std::function<void(const std::exception&)>;
TComExceptionHook SetComExceptionHook(TComExceptionHook hook);

// The subscription a control registers with a port: each handler is
// optional, and is called with the port and a value, before the port's own
// event handler runs.
class TComLink {
public:
    using TStateHandler = std::function<void(TCustomComPort* port, bool on)>;
    using TBlockHandler = std::function<void(TCustomComPort* port, const char* data, int count)>;
    using TPortHandler = std::function<void(TCustomComPort* port)>;

    TStateHandler OnConn;   // port opened (true) or closed (false)
    TBlockHandler OnRxBuf;  // a received block
    TBlockHandler OnTxBuf;  // a transmitted block
    TPortHandler OnTxEmpty; // transmitter empty
    TPortHandler OnRxFlag;  // the event character arrived
    TStateHandler OnCTSChange;
    TStateHandler OnDSRChange;
    TStateHandler OnRLSDChange;
    TPortHandler OnRing;
    TStateHandler OnTx; // transmission active
    TStateHandler OnRx; // reception active

    void Clear() { *this = TComLink(); }
};

// Event properties.
using TNotifyEvent = std::function<void(TCustomComPort* Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort* Sender, int Count)>;
using TRxBufEvent = std::function<void(TCustomComPort* Sender, const char* Buffer, int Count)>;
using TComSignalEvent = std::function<void(TCustomComPort* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort* Sender, TComErrors Errors)>;

class TComParity {
public:
    explicit TComParity(TCustomComPort* owner) : owner_(owner) {}
    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    char ReplaceChar() const { return replaceChar_; }
    void SetBits(TParityBits value);
    void SetCheck(bool value);
    void SetReplace(bool value);
    void SetReplaceChar(char value);

private:
    TCustomComPort* owner_;
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    char replaceChar_ = 0;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort* owner) : owner_(owner) {}
    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }
    void SetOutCTSFlow(bool value);
    void SetOutDSRFlow(bool value);
    void SetControlDTR(TDTRFlowControl value);
    void SetControlRTS(TRTSFlowControl value);
    void SetXonXoffOut(bool value);
    void SetXonXoffIn(bool value);
    void SetDSRSensitivity(bool value);
    void SetTxContinueOnXoff(bool value);
    void SetXonChar(char value);
    void SetXoffChar(char value);

private:
    template <typename T> void set(T& field, T value);
    TCustomComPort* owner_;
    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    char xonChar_ = 17;
    char xoffChar_ = 19;
};

// Time-outs in milliseconds; -1 passes as the all-ones value.
class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort* owner) : owner_(owner) {}
    int ReadInterval() const { return readInterval_; }
    int ReadTotalMultiplier() const { return readTotalMultiplier_; }
    int ReadTotalConstant() const { return readTotalConstant_; }
    int WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    int WriteTotalConstant() const { return writeTotalConstant_; }
    void SetReadInterval(int value);
    void SetReadTotalMultiplier(int value);
    void SetReadTotalConstant(int value);
    void SetWriteTotalMultiplier(int value);
    void SetWriteTotalConstant(int value);

private:
    void set(int& field, int value);
    TCustomComPort* owner_;
    int readInterval_ = -1;
    int readTotalMultiplier_ = 0;
    int readTotalConstant_ = 0;
    int writeTotalMultiplier_ = 100;
    int writeTotalConstant_ = 1000;
};

class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort* owner) : owner_(owner) {}
    int InputSize() const { return inputSize_; }
    int OutputSize() const { return outputSize_; }
    void SetInputSize(int value);
    void SetOutputSize(int value);

private:
    TCustomComPort* owner_;
    int inputSize_ = 1024;
    int outputSize_ = 1024;
};

// The event thread of an open port: waits on the line and hands each batch
// of events to the port (see TCustomComPort::DispatchComMsg). A plain
// std::thread, so that the sanitizers see every start and join.
class TComThread {
public:
    TComThread(TCustomComPort* port, SerialLine* line, TComEvents mask);
    virtual ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;
    void Start();
    // Asks the thread to stop; it leaves its wait at once.
    void Stop();
    // Returns once Execute has returned.
    void WaitFor();

protected:
    virtual void Execute();

private:
    TCustomComPort* port_;
    SerialLine* line_;
    std::atomic<uint32_t> mask_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    friend class TCustomComPort;
};

// A serial port of the operating system, or a virtual line, opened by name
// ("COM1" ... "COM96", resolved through PortMap). All operations are called
// on the thread that created the port (the GUI thread); with smThreadSync
// and smWindowSync every event handler runs there too, while the event
// thread waits. Handlers run only while that thread processes events.
class TCustomComPort : public QObject {
    Q_OBJECT
public:
    explicit TCustomComPort(QObject* parent = nullptr);
    ~TCustomComPort() override;

    // A Close run while an LED or a handler processes events ends Open
    // there, quietly: the port stays closed, and nothing is raised.
    void Open();
    void Close();
    // Returns the number of bytes written when the write completed or the
    // write time-out expired. Raises code 2 on failure (also when closed).
    // Nothing to write starts no transmission: the Tx links hear nothing.
    // A Close run while the Tx LED processes events leaves nothing written,
    // and is no failure: 0.
    int Write(const void* Buffer, int Count);
    // Returns the number of bytes read when Count arrived or the read
    // time-outs expired. Raises code 3 on failure (also when closed).
    int Read(void* Buffer, int Count);
    TComSignals Signals();
    int InputCount();
    // Discards whatever is waiting in the input queue.
    void ClearBuffer(bool Input, bool Output);

    void BeginUpdate();
    void EndUpdate();
    void RegisterLink(TComLink* Link);
    void UnRegisterLink(TComLink* Link);

    QString Port() const { return port_; }
    void SetPort(const QString& Value);
    // The name SetPort stores for a text: "COM%d", with 1 for anything else.
    static QString NormalisePortName(const QString& name);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate Value);
    int CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(int Value);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits Value);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits Value);
    TComParity& Parity() { return parity_; }
    const TComParity& Parity() const { return parity_; }
    TComFlowControl& FlowControl() { return flowControl_; }
    const TComFlowControl& FlowControl() const { return flowControl_; }
    TComTimeouts& Timeouts() { return timeouts_; }
    const TComTimeouts& Timeouts() const { return timeouts_; }
    TComBuffer& Buffer() { return buffer_; }
    const TComBuffer& Buffer() const { return buffer_; }
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents Value);
    char EventChar() const { return eventChar_; }
    void SetEventChar(char Value);
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool Value);
    TSyncMethod SyncMethod() const { return syncMethod_; }
    void SetSyncMethod(TSyncMethod Value);
    bool TriggersOnRxChar() const { return triggersOnRxChar_; }
    void SetTriggersOnRxChar(bool Value);
    bool Connected() const { return connected_; }
    void SetConnected(bool Value);
    // Open is reaching the line (a network line's server) and the event
    // loop runs meanwhile; a Close now cancels it.
    bool Opening() const { return opening_ != nullptr; }

    // The device control block and time-outs the current settings give.
    TDCB BuildDCB() const;
    TCommTimeouts BuildTimeouts() const;

    TNotifyEvent OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose;
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TComErrorEvent OnError;

protected:
    virtual void CreateHandle();
    virtual void DestroyHandle();
    virtual void SetupComPort();
    virtual void ApplyDCB();
    virtual void ApplyTimeouts();
    virtual void ApplyBuffer();

    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoRxChar(int Count);
    virtual void DoRxBuf(const char* Buffer, int Count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoCTSChange(bool OnOff);
    virtual void DoDSRChange(bool OnOff);
    virtual void DoError(TComErrors Errors);
    virtual void DoRLSDChange(bool OnOff);
    virtual void DoRx80Full();

    // Runs the handlers of one batch in their fixed order.
    void DoEvents(TComEvents Events);

private:
    friend class TComParity;
    friend class TComFlowControl;
    friend class TComTimeouts;
    friend class TComBuffer;
    friend class TComThread;

    // The hand-over between the event thread and the GUI thread; a fresh one
    // for each time the port is open. The event thread rings the GUI thread
    // through an eventfd its event loop watches, so nothing but this record
    // passes between the two threads.
    struct HandOver {
        HandOver();
        ~HandOver();
        std::mutex mutex;
        std::condition_variable done;
        std::function<void()> work;
        quint64 id = 0;
        quint64 finished = 0;
        bool abandon = false;
        int bell = -1;
    };

    bool applying() const { return connected_ && updateCount_ == 0; }
    // Whether the port is still open as it was opened for the count given,
    // after handlers and LEDs that process events have run.
    bool stillOpen(quint64 opening) const {
        return connected_ && !closing_ && openings_ == opening;
    }
    void callLineChange(TComSignal signal, TComLink::TStateHandler TComLink::*handler,
                        void (TCustomComPort::*dispatch)(bool));
    void settingChanged(void (TCustomComPort::*apply)());
    void CallEvent(TComEvent event);
    void CallError();
    void CallRxChar();
    void CallTxEmpty();
    void CallCTSChange();
    void CallDSRChange();
    void CallRLSDChange();
    void CheckSignals(bool Open);
    void setTxActive(bool on);
    void forEachLink(const std::function<void(TComLink&)>& call);
    void runGuarded(const std::function<void()>& work);

    // Called on the event thread: hands a batch to the GUI thread and waits.
    void DispatchComMsg(TComEvents events);
    void handOver(const std::function<void()>& work);
    void runHandOver();
    void stopThread();

    QString port_ = QStringLiteral("COM1");
    TBaudRate baudRate_ = br9600;
    int customBaudRate_ = 9600;
    TDataBits dataBits_ = dbEight;
    TStopBits stopBits_ = sbOneStopBit;
    TComParity parity_{this};
    TComFlowControl flowControl_{this};
    TComTimeouts timeouts_{this};
    TComBuffer buffer_{this};
    TComEvents events_ = TComEvents::All();
    char eventChar_ = 0;
    bool discardNull_ = false;
    TSyncMethod syncMethod_ = smThreadSync;
    bool triggersOnRxChar_ = true;

    bool connected_ = false;
    bool closing_ = false;
    LineOpening* opening_ = nullptr;
    // How often the port has been opened: tells one opening from the next.
    quint64 openings_ = 0;
    // The links were told of a transmission whose end they have not heard.
    bool txActive_ = false;
    int updateCount_ = 0;
    bool pendingDCB_ = false, pendingTimeouts_ = false, pendingBuffer_ = false;
    std::shared_ptr<SerialLine> line_;
    std::unique_ptr<TComThread> thread_;
    std::vector<TComLink*> links_;

    std::shared_ptr<HandOver> handOver_;
    std::unique_ptr<QSocketNotifier> bellNotifier_;
};

// The port as the program places it on a window: every property published.
class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    using TCustomComPort::TCustomComPort;
};
