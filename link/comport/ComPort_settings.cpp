// The line settings: the settings objects' setters, the port's own, and how
// they become the device control block, the time-outs and the queue sizes a
// line is given. A setting changed on an open port applies at once (unless
// inside BeginUpdate/EndUpdate); on a closed port it waits for the next Open.
#include "link/comport/ComPort.h"

#include "link/comport/SerialLine.h"

#include <algorithm>

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
        throw EComPort(EComPort::SyncMethodWhileOpen);
    syncMethod_ = Value;
}

void TCustomComPort::SetTriggersOnRxChar(bool Value) {
    if (Value == triggersOnRxChar_)
        return;
    if (std::any_of(links_.begin(), links_.end(), [](TComLink* l) { return bool(l->OnRxBuf); }))
        throw EComPort(EComPort::RxBufLinked);
    triggersOnRxChar_ = Value;
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

void TCustomComPort::SetupComPort() {
    ApplyBuffer();
    ApplyDCB();
    ApplyTimeouts();
}

void TCustomComPort::ApplyDCB() {
    if (!applying())
        return;
    // Held for the call: a line that waits lets the operator close the port.
    const std::shared_ptr<SerialLine> line = line_;
    if (const int error = line->SetCommState(BuildDCB()))
        throw EComPort(EComPort::SetStateFailed, error);
}

void TCustomComPort::ApplyTimeouts() {
    if (!applying())
        return;
    const std::shared_ptr<SerialLine> line = line_;
    if (const int error = line->SetCommTimeouts(BuildTimeouts()))
        throw EComPort(EComPort::SetTimeoutsFailed, error);
}

void TCustomComPort::ApplyBuffer() {
    if (!applying())
        return;
    const std::shared_ptr<SerialLine> line = line_;
    if (const int error = line->SetupComm(buffer_.InputSize(), buffer_.OutputSize()))
        throw EComPort(EComPort::SetupComFailed, error);
}
