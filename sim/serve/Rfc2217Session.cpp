// Telnet option negotiation after RFC 1143's rule that keeps two peers out of
// a loop: an option is answered only when its state changes, and an answer
// to our own offer is not answered again.
#include "sim/serve/Rfc2217Session.h"

#include <utility>

using namespace Rfc2217;

namespace {

// Binary data both ways, no go-ahead, and the serial port's own option.
bool supported(uint8_t option) {
    return option == Binary || option == SuppressGoAhead || option == ComPortOption;
}

constexpr char Parities[] = "NOEMS"; // SET-PARITY 1 ... 5

} // namespace

Rfc2217Session::Rfc2217Session(Listener& listener, const LineSettings& line) : listener_(listener) {
    uart_.line = line;
}

QString Rfc2217Session::flowName(Flow flow) {
    switch (flow) {
    case Flow::None:
        return QStringLiteral("none");
    case Flow::XonXoff:
        return QStringLiteral("xon-xoff");
    case Flow::Hardware:
        return QStringLiteral("hardware");
    }
    return {};
}

void Rfc2217Session::start() {
    for (const uint8_t option : {Binary, SuppressGoAhead}) {
        for (const Side side : {Us, Him}) {
            asked_[side][option] = true;
            listener_.send(Rfc2217::negotiation(side == Us ? Will : Do, option));
        }
    }
}

void Rfc2217Session::negotiation(Command verb, uint8_t option) {
    const Side side = verb == Will || verb == Wont ? Him : Us;
    const bool asks = verb == Will || verb == Do;
    const bool wasAsked = std::exchange(asked_[side][option], false);
    if (asks && !supported(option))
        return agree(side, false, option); // refused, whoever asked
    if (asks == on_[side][option])
        return; // as it is, or the answer to our own offer
    const bool comPortBefore = comPortAgreed();
    on_[side][option] = asks;
    if (!wasAsked)
        agree(side, asks, option);
    if (!comPortBefore && comPortAgreed())
        tellModemLines(0);
}

void Rfc2217Session::agree(Side side, bool on, uint8_t option) {
    listener_.send(
        Rfc2217::negotiation(side == Us ? (on ? Will : Wont) : (on ? Do : Dont), option));
}

bool Rfc2217Session::comPortAgreed() const {
    return on_[Us][ComPortOption] || on_[Him][ComPortOption];
}

void Rfc2217Session::comPort(uint8_t code, const QByteArray& value) {
    const uint8_t v = value.isEmpty() ? 0 : uint8_t(value[0]);
    switch (code) {
    case Signature:
        if (value.isEmpty()) // a client's own signature asks for nothing
            answer(Signature, QByteArrayLiteral("tellumo-printer"));
        return;
    case SetBaudRate: {
        const uint32_t rate = baudRateOf(value);
        // A rate no UART runs at is refused: the answer is the rate in force.
        if (rate != 0 && rate <= LineSettings::MaxRate && rate != uart_.line.rate) {
            uart_.line.rate = rate;
            listener_.uartChanged();
        }
        return answer(SetBaudRate, baudRateValue(uart_.line.rate));
    }
    case SetDataSize:
    case SetParity:
    case SetStopSize:
        return setLine(code, v);
    case SetControl:
        return setControl(v);
    case FlowControlSuspend:
    case FlowControlResume:
        return listener_.suspend(code == FlowControlSuspend);
    case SetLineStateMask:
        lineStateMask_ = v;
        return answer(code, value);
    case SetModemStateMask:
        modemStateMask_ = v;
        answer(code, value);
        return tellModemLines(0);
    case PurgeData:
        if (v >= Purge::Receive && v <= Purge::Both) {
            listener_.purge(v & Purge::Receive, v & Purge::Transmit);
            answer(code, value);
        }
        return;
    default:
        return; // notifications and the server's codes are not the client's to send
    }
}

// A value out of range changes nothing; the answer is always what is in force.
void Rfc2217Session::setLine(uint8_t code, uint8_t v) {
    LineSettings line = uart_.line;
    if (code == SetDataSize && v >= 5 && v <= 8)
        line.dataBits = v;
    else if (code == SetParity && v >= 1 && v <= 5)
        line.parity = Parities[v - 1];
    else if (code == SetStopSize && v >= StopSize::One && v <= StopSize::OneAndHalf)
        line.halfStopBits = v == StopSize::One ? 2 : v == StopSize::Two ? 4 : 3;
    if (!(line == uart_.line)) {
        uart_.line = line;
        listener_.uartChanged();
    }
    const uint8_t stop = line.halfStopBits == 2   ? StopSize::One
                         : line.halfStopBits == 4 ? StopSize::Two
                                                  : StopSize::OneAndHalf;
    const uint8_t parity = uint8_t(QByteArray(Parities).indexOf(line.parity) + 1);
    const uint8_t inForce = code == SetDataSize ? line.dataBits : code == SetParity ? parity : stop;
    answer(code, QByteArray(1, char(inForce)));
}

void Rfc2217Session::setControl(uint8_t v) {
    using namespace Control;
    const Uart before = uart_;
    if (v == NoFlow || v == XonXoffFlow || v == HardwareFlow)
        uart_.flow = v == NoFlow ? Flow::None : v == XonXoffFlow ? Flow::XonXoff : Flow::Hardware;
    else if (v == BreakOn || v == BreakOff)
        uart_.breakOn = v == BreakOn;
    else if (v == DtrOn || v == DtrOff)
        uart_.dtr = v == DtrOn;
    else if (v == RtsOn || v == RtsOff)
        uart_.rts = v == RtsOn;
    else if (v >= InboundNoFlow && v <= InboundHardware)
        inboundFlow_ = v;
    if (before.flow != uart_.flow || before.breakOn != uart_.breakOn || before.dtr != uart_.dtr ||
        before.rts != uart_.rts)
        listener_.uartChanged();
    answer(SetControl, QByteArray(1, char(controlInForce(v))));
}

// The value in force of the group the asked value belongs to.
uint8_t Rfc2217Session::controlInForce(uint8_t asked) const {
    using namespace Control;
    if (asked >= AskBreak && asked <= BreakOff)
        return uart_.breakOn ? BreakOn : BreakOff;
    if (asked >= AskDtr && asked <= DtrOff)
        return uart_.dtr ? DtrOn : DtrOff;
    if (asked >= AskRts && asked <= RtsOff)
        return uart_.rts ? RtsOn : RtsOff;
    if ((asked >= AskInboundFlow && asked <= InboundHardware) || asked == 18)
        return inboundFlow_;
    return uart_.flow == Flow::None      ? NoFlow
           : uart_.flow == Flow::XonXoff ? XonXoffFlow
                                         : HardwareFlow;
}

void Rfc2217Session::answer(uint8_t code, const QByteArray& value) {
    listener_.send(Rfc2217::comPort(uint8_t(code + ServerOffset), value));
}

void Rfc2217Session::setModemLines(uint8_t lines) {
    const uint8_t changed = lines ^ lines_;
    lines_ = lines;
    uint8_t changes = 0;
    if (changed & Modem::Cts)
        changes |= Modem::DeltaCts;
    if (changed & Modem::Dsr)
        changes |= Modem::DeltaDsr;
    if (changed & Modem::Cd)
        changes |= Modem::DeltaCd;
    if ((changed | changes) & modemStateMask_)
        tellModemLines(changes);
}

// A mask of 0 is a client that wants no notifications at all.
void Rfc2217Session::tellModemLines(uint8_t changes) {
    if (comPortAgreed() && modemStateMask_ != 0)
        listener_.send(Rfc2217::comPort(uint8_t(NotifyModemState + ServerOffset),
                                        uint8_t((lines_ | changes) & modemStateMask_)));
}
