// The transfers and the line queries the program calls on the GUI thread:
// Write, Read, the modem lines, the input count and the purge.
#include "link/comport/ComPort.h"

#include "link/comport/SerialLine.h"

#include <QByteArray>

int TCustomComPort::Write(const void* Buffer, int Count) {
    if (!connected_)
        throw EComPort(EComPort::WriteFailed, WinError::InvalidHandle);
    if (Count < 0 || (Count > 0 && !Buffer))
        throw EComPort(EComPort::WriteFailed, WinError::InvalidParameter);
    // Nothing to send starts no transmission, so no transmitter-empty report
    // would follow: the Tx lamp stays as it is. A failed line still says so.
    if (Count == 0) {
        int none = 0;
        if (const int error = line_->Write(static_cast<const char*>(Buffer), 0, none))
            throw EComPort(EComPort::WriteFailed, error);
        return 0;
    }
    const std::shared_ptr<SerialLine> line = line_;
    // The bytes are copied first: a handler run while the LED processes
    // events may reuse the caller's buffer.
    const QByteArray data(static_cast<const char*>(Buffer), Count);
    setTxActive(true);
    // The Tx LED processed events, and the operator may have closed the port
    // (and opened it again): nothing was sent, which is no failure.
    if (!connected_ || closing_ || line != line_)
        return 0;
    int written = 0;
    if (const int error = line->Write(data.constData(), Count, written)) {
        // Nor does a write that failed end in a transmitter-empty report.
        setTxActive(false);
        throw EComPort(EComPort::WriteFailed, error);
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
        throw EComPort(EComPort::ReadFailed, WinError::InvalidHandle);
    if (Count < 0 || (Count > 0 && !Buffer))
        throw EComPort(EComPort::ReadFailed, WinError::InvalidParameter);
    int read = 0;
    if (const int error = line_->Read(static_cast<char*>(Buffer), Count, read))
        throw EComPort(EComPort::ReadFailed, error);
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
        throw EComPort(EComPort::ModemStatusFailed, WinError::InvalidHandle);
    TComSignals lines;
    if (const int error = line_->ModemStatus(lines))
        throw EComPort(EComPort::ModemStatusFailed, error);
    return lines;
}

int TCustomComPort::InputCount() {
    if (!connected_)
        throw EComPort(EComPort::ClearComFailed, WinError::InvalidHandle);
    int count = 0;
    if (const int error = line_->InputWaiting(count))
        throw EComPort(EComPort::ClearComFailed, error);
    return count;
}

void TCustomComPort::ClearBuffer(bool Input, bool Output) {
    if (!connected_)
        throw EComPort(EComPort::PurgeFailed, WinError::InvalidHandle);
    if (const int error = line_->Purge(Output, Input))
        throw EComPort(EComPort::PurgeFailed, error);
}
