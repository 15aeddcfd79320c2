#pragma once

#include <QByteArray>

#include <cstdint>

// Telnet with the COM-PORT-OPTION of RFC 2217, as bytes: what a serial device
// server and its client say to each other over TCP. No I/O and no policy:
// the decoder cuts a received stream into data, option negotiations and
// COM-PORT-OPTION subnegotiations and tells a Sink; the encoders build what
// one side sends. Both sides use it: the network line (a client) and
// tellumo-printer's device server.
namespace Rfc2217 {

// Telnet commands (RFC 854).
enum Command : uint8_t {
    Se = 240, // end of subnegotiation
    Nop = 241,
    Break = 243,
    Sb = 250, // start of subnegotiation
    Will = 251,
    Wont = 252,
    Do = 253,
    Dont = 254,
    Iac = 255, // "interpret as command"; doubled in data
};

// Telnet options a serial link uses.
enum Option : uint8_t {
    Binary = 0,          // RFC 856: 8-bit data, no CR NUL stuffing
    SuppressGoAhead = 3, // RFC 858
    ComPortOption = 44,  // RFC 2217
};

// COM-PORT-OPTION codes as the client sends them; the server answers each
// with the same code plus ServerOffset.
enum Code : uint8_t {
    Signature = 0,
    SetBaudRate = 1, // 4 bytes, network order; 0 asks for the current rate
    SetDataSize = 2, // 5 ... 8; 0 asks
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr uint8_t ServerOffset = 100;

namespace Parity {
inline constexpr uint8_t Ask = 0, None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5;
}
namespace StopSize {
inline constexpr uint8_t Ask = 0, One = 1, Two = 2, OneAndHalf = 3;
}
// SET-CONTROL values: outbound flow control, break, DTR and RTS.
namespace Control {
inline constexpr uint8_t AskFlow = 0, NoFlow = 1, XonXoffFlow = 2, HardwareFlow = 3;
inline constexpr uint8_t AskBreak = 4, BreakOn = 5, BreakOff = 6;
inline constexpr uint8_t AskDtr = 7, DtrOn = 8, DtrOff = 9;
inline constexpr uint8_t AskRts = 10, RtsOn = 11, RtsOff = 12;
inline constexpr uint8_t AskInboundFlow = 13, InboundNoFlow = 14, InboundXonXoff = 15,
                         InboundHardware = 16;
} // namespace Control
// NOTIFY-MODEMSTATE bits: the lines, and below them their changes.
namespace Modem {
inline constexpr uint8_t Cd = 0x80, Ri = 0x40, Dsr = 0x20, Cts = 0x10;
inline constexpr uint8_t DeltaCd = 0x08, TrailingRi = 0x04, DeltaDsr = 0x02, DeltaCts = 0x01;
} // namespace Modem
// NOTIFY-LINESTATE bits.
namespace LineState {
inline constexpr uint8_t Timeout = 0x80, ShiftRegisterEmpty = 0x40, HoldingRegisterEmpty = 0x20,
                         BreakDetect = 0x10, FramingError = 0x08, ParityError = 0x04,
                         OverrunError = 0x02, DataReady = 0x01;
} // namespace LineState
namespace Purge {
inline constexpr uint8_t Receive = 1, Transmit = 2, Both = 3;
}

// What the decoder found, one piece at a time, in stream order.
class Sink {
public:
    virtual ~Sink() = default;
    // A run of data bytes, a doubled 0xFF already made one.
    virtual void data(const char* bytes, int count) = 0;
    // WILL, WONT, DO or DONT, and the option it is about.
    virtual void negotiation(Command verb, uint8_t option) = 0;
    // A COM-PORT-OPTION subnegotiation whose value has the length its code
    // allows: the code (the server's with ServerOffset) and the value.
    virtual void comPort(uint8_t code, const QByteArray& value) = 0;
    // Any other command (NOP, break, ...); most peers need none.
    virtual void command(uint8_t) {}
};

// Takes a received stream in pieces of any size: a command or a
// subnegotiation cut between two pieces is finished by the next one.
// Subnegotiations of other options, malformed ones and values longer than
// any code has are dropped, so a peer cannot make it hold more than a few
// hundred bytes.
class Decoder {
public:
    explicit Decoder(Sink& sink) : sink_(sink) {}
    void take(const char* bytes, int count);
    void take(const QByteArray& bytes) { take(bytes.constData(), int(bytes.size())); }
    // Whether a command or subnegotiation is half received.
    bool midCommand() const { return state_ != State::Data; }

private:
    enum class State { Data, Command, Option, SubOption, SubValue, SubIac };
    struct Row {
        uint8_t code;
        int minLength;
        int maxLength;
    };
    static const Row* rowFor(uint8_t code);
    void takeCommand(uint8_t byte);
    void takeSub(uint8_t byte);
    void endSub();

    Sink& sink_;
    State state_ = State::Data;
    Command verb_ = Will;
    uint8_t option_ = 0;
    bool overlong_ = false;
    QByteArray value_;
};

// Appends data to out with every 0xFF doubled.
void appendData(QByteArray& out, const char* bytes, int count);
QByteArray encodeData(const QByteArray& bytes);
// IAC verb option.
QByteArray negotiation(Command verb, uint8_t option);
// IAC SB COM-PORT-OPTION code value IAC SE, 0xFF in the value doubled.
QByteArray comPort(uint8_t code, const QByteArray& value);
// A one-byte value (data size, parity, stop size, control, masks, purge).
QByteArray comPort(uint8_t code, uint8_t value);
// SET-BAUDRATE's value and back.
QByteArray baudRateValue(uint32_t rate);
uint32_t baudRateOf(const QByteArray& value);

} // namespace Rfc2217
