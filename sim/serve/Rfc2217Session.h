#pragma once

#include "protocol/Rfc2217Codec.h"
#include "sim/printer/LineSettings.h"

#include <QByteArray>

#include <array>
#include <cstdint>

// The device server's half of RFC 2217 for the printer behind it: the
// settings a client asks of the serial port (the UART a device server drives)
// are taken and answered with the value then in force, and the printer's
// modem lines are told to the client whenever they change, once it has asked
// for them. No sockets and no printer: the bytes of one connection come in
// through take(), and everything else goes out through the Listener.
class Rfc2217Session : private Rfc2217::Sink {
public:
    enum class Flow { None, XonXoff, Hardware };
    // What the client has set up on the serial port.
    struct Uart {
        LineSettings line;
        Flow flow = Flow::None;
        bool dtr = true;
        bool rts = true;
        bool breakOn = false;
    };
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void send(const QByteArray& bytes) = 0;      // to the client, as it is
        virtual void data(const char* bytes, int count) = 0; // for the printer
        virtual void uartChanged() = 0;
        // PURGE-DATA: what the server holds from the printer for the client,
        // what it holds from the client for the printer, or both.
        virtual void purge(bool fromPrinter, bool toPrinter) = 0;
        // FLOWCONTROL-SUSPEND and -RESUME: the client can take no more.
        virtual void suspend(bool suspended) = 0;
    };

    // The serial port starts with the printer's own settings.
    Rfc2217Session(Listener& listener, const LineSettings& line);

    // What the server offers as the connection opens.
    void start();
    void take(const QByteArray& bytes) { decoder_.take(bytes); }
    // The printer's lines as Rfc2217::Modem bits (CTS, DSR, CD): told to the
    // client when they change, with the changes marked.
    void setModemLines(uint8_t lines);
    uint8_t modemLines() const { return lines_; }
    const Uart& uart() const { return uart_; }
    static QString flowName(Flow flow);

private:
    enum Side { Us, Him };
    void data(const char* bytes, int count) override { listener_.data(bytes, count); }
    void negotiation(Rfc2217::Command verb, uint8_t option) override;
    void comPort(uint8_t code, const QByteArray& value) override;
    void agree(Side side, bool on, uint8_t option);
    void setLine(uint8_t code, uint8_t value);
    void setControl(uint8_t value);
    uint8_t controlInForce(uint8_t asked) const;
    void answer(uint8_t code, const QByteArray& value);
    void tellModemLines(uint8_t changes);
    bool comPortAgreed() const;

    Listener& listener_;
    Rfc2217::Decoder decoder_{*this};
    Uart uart_;
    uint8_t inboundFlow_ = Rfc2217::Control::InboundNoFlow;
    uint8_t lineStateMask_ = 0;
    uint8_t modemStateMask_ = 0xFF;
    uint8_t lines_ = 0;
    // Per option: on, and asked for by us and not yet answered.
    std::array<std::array<bool, 256>, 2> on_{};
    std::array<std::array<bool, 256>, 2> asked_{};
};
