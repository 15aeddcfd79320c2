// The telnet stream of a serial device server, cut into what it means. Data
// is handed on in runs, not byte by byte: a network line moves whole
// receipts through here, and most of a stream is data.
#include "protocol/Rfc2217Codec.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <span>

namespace Rfc2217 {

namespace {
// The longest value kept: a signature text; every other code has a byte or four.
constexpr int MaxSignature = 255;
} // namespace

const Decoder::Row* Decoder::rowFor(uint8_t code) {
    static const Row rows[] = {
        {Signature, 0, MaxSignature},
        {SetBaudRate, 4, 4},
        {SetDataSize, 1, 1},
        {SetParity, 1, 1},
        {SetStopSize, 1, 1},
        {SetControl, 1, 1},
        {NotifyLineState, 1, 1},
        {NotifyModemState, 1, 1},
        {FlowControlSuspend, 0, 0},
        {FlowControlResume, 0, 0},
        {SetLineStateMask, 1, 1},
        {SetModemStateMask, 1, 1},
        {PurgeData, 1, 1},
    };
    const uint8_t base = code >= ServerOffset ? uint8_t(code - ServerOffset) : code;
    const std::span<const Row> table(rows);
    const auto row =
        std::find_if(table.begin(), table.end(), [base](const Row& r) { return r.code == base; });
    return row == table.end() ? nullptr : &*row;
}

void Decoder::take(const char* bytes, int count) {
    int at = 0;
    while (at < count) {
        if (state_ != State::Data) {
            const uint8_t byte = uint8_t(bytes[at++]);
            if (state_ == State::Command || state_ == State::Option)
                takeCommand(byte);
            else
                takeSub(byte);
            continue;
        }
        const void* iac = std::memchr(bytes + at, Iac, size_t(count - at));
        const int end = iac ? int(static_cast<const char*>(iac) - bytes) : count;
        if (end > at)
            sink_.data(bytes + at, end - at);
        at = end;
        if (iac) {
            state_ = State::Command;
            ++at;
        }
    }
}

// The byte after IAC, or the option after a negotiation verb.
void Decoder::takeCommand(uint8_t byte) {
    if (state_ == State::Option) {
        state_ = State::Data;
        sink_.negotiation(verb_, byte);
        return;
    }
    switch (byte) {
    case Iac:
        state_ = State::Data;
        sink_.data("\xff", 1);
        return;
    case Will:
    case Wont:
    case Do:
    case Dont:
        verb_ = Command(byte);
        state_ = State::Option;
        return;
    case Sb:
        state_ = State::SubOption;
        return;
    default:
        state_ = State::Data;
        sink_.command(byte);
        return;
    }
}

void Decoder::takeSub(uint8_t byte) {
    switch (state_) {
    case State::SubOption:
        option_ = byte;
        value_.clear();
        overlong_ = false;
        state_ = State::SubValue;
        return;
    case State::SubValue:
        if (byte == Iac) {
            state_ = State::SubIac;
            return;
        }
        break;
    case State::SubIac:
        if (byte == Se) {
            endSub();
            return;
        }
        if (byte != Iac) {
            // IAC and a command inside a subnegotiation: the peer ended it
            // without IAC SE. It is dropped and the command taken as one.
            value_.clear();
            state_ = State::Command;
            takeCommand(byte);
            return;
        }
        state_ = State::SubValue;
        break;
    default:
        return;
    }
    // The code and at most the longest value are kept.
    if (value_.size() <= MaxSignature)
        value_.append(char(byte));
    else
        overlong_ = true;
}

void Decoder::endSub() {
    state_ = State::Data;
    if (option_ != ComPortOption || value_.isEmpty() || overlong_)
        return;
    const uint8_t code = uint8_t(value_[0]);
    const Row* row = rowFor(code);
    const int length = int(value_.size()) - 1;
    if (!row || length < row->minLength || length > row->maxLength)
        return;
    const QByteArray value = value_.mid(1);
    value_.clear();
    sink_.comPort(code, value);
}

void appendData(QByteArray& out, const char* bytes, int count) {
    int at = 0;
    while (at < count) {
        const void* iac = std::memchr(bytes + at, Iac, size_t(count - at));
        const int end = iac ? int(static_cast<const char*>(iac) - bytes) + 1 : count;
        out.append(bytes + at, end - at);
        if (iac)
            out.append(char(Iac));
        at = end;
    }
}

QByteArray encodeData(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    appendData(out, bytes.constData(), int(bytes.size()));
    return out;
}

namespace {
QByteArray bytes(std::initializer_list<uint8_t> values) {
    QByteArray out;
    out.reserve(qsizetype(values.size()));
    for (const uint8_t value : values)
        out.append(char(value));
    return out;
}
} // namespace

QByteArray negotiation(Command verb, uint8_t option) {
    return bytes({Iac, verb, option});
}

QByteArray comPort(uint8_t code, const QByteArray& value) {
    QByteArray out = bytes({Iac, Sb, ComPortOption, code});
    appendData(out, value.constData(), int(value.size()));
    out.append(char(Iac));
    out.append(char(Se));
    return out;
}

QByteArray comPort(uint8_t code, uint8_t value) {
    return comPort(code, QByteArray(1, char(value)));
}

QByteArray baudRateValue(uint32_t rate) {
    return bytes({uint8_t(rate >> 24), uint8_t(rate >> 16), uint8_t(rate >> 8), uint8_t(rate)});
}

uint32_t baudRateOf(const QByteArray& value) {
    uint32_t rate = 0;
    for (const char byte : value.left(4))
        rate = rate << 8 | uint8_t(byte);
    return rate;
}

} // namespace Rfc2217
