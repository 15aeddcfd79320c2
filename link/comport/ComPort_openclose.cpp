// Opening and closing the port: the order of the steps, and what each report
// to the links and handlers means for the program above, live here, as the
// connection dialog's behaviour follows from them.
#include "link/comport/ComPort.h"

#include "link/comport/SerialLine.h"

#include <cerrno>
#include <exception>

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

void TCustomComPort::SetConnected(bool Value) {
    if (Value)
        Open();
    else
        Close();
}

// A line that takes a while to reach (a network line) lets the event loop
// run meanwhile; a Close run then cancels the opening, and no line is made.
void TCustomComPort::CreateHandle() {
    int error = 0;
    LineOpening opening;
    opening_ = &opening;
    struct Done {
        LineOpening*& opening;
        ~Done() { opening = nullptr; }
    } done{opening_};
    std::unique_ptr<SerialLine> line = OpenSerialLine(port_, error, &opening);
    if (opening.Cancelled())
        return;
    if (!line)
        throw EComPort(EComPort::OpenFailed, error);
    line_ = std::move(line);
}

// A wait of the line (a network line's server answering the settings) ends
// at once: the port is closing under it.
void TCustomComPort::DestroyHandle() {
    if (line_)
        line_->CancelWait();
    line_.reset();
}

void TCustomComPort::Open() {
    if (connected_ || opening_)
        return;
    DoBeforeOpen();
    CreateHandle();
    // Closed while the line was being reached: Open ends quietly.
    if (!line_)
        return;
    connected_ = true;
    const quint64 opening = ++openings_;
    try {
        SetupComPort();
    } catch (...) {
        // A Close while the settings were applied already closed the port.
        if (!stillOpen(opening))
            return;
        DestroyHandle();
        connected_ = false;
        throw;
    }
    if (!stillOpen(opening))
        return;
    handOver_ = std::make_shared<HandOver>();
    if (!events_.Empty()) {
        if (handOver_->bell < 0) {
            const int error = WinError::FromErrno(errno);
            DestroyHandle();
            connected_ = false;
            throw EComPort(EComPort::OpenFailed, error);
        }
        bellNotifier_ = std::make_unique<QSocketNotifier>(handOver_->bell, QSocketNotifier::Read);
        connect(bellNotifier_.get(), &QSocketNotifier::activated, this,
                &TCustomComPort::runHandOver);
        thread_ = std::make_unique<TComThread>(this, line_.get(), events_);
        thread_->Start();
    }
    // Each report makes an LED process events, and the operator may close
    // the port meanwhile (and even open it again): what is left is then
    // not reported, and Open returns as if it had finished.
    forEachLink([this, opening](TComLink& l) {
        if (l.OnConn && stillOpen(opening))
            l.OnConn(this, true);
    });
    if (!stillOpen(opening))
        return;
    DoAfterOpen();
    if (stillOpen(opening))
        CheckSignals(true);
}

void TCustomComPort::Close() {
    if (opening_) {
        opening_->Cancel();
        return;
    }
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
        throw EComPort(EComPort::PurgeFailed, purgeError);
}

void TCustomComPort::stopThread() {
    if (!thread_)
        return;
    thread_->Stop();
    thread_->WaitFor();
    thread_.reset();
    bellNotifier_.reset();
}
