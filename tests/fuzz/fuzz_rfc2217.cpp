// The telnet/RFC 2217 decoder on two kinds of stream. The input itself,
// as a peer might send anything: no crash, and never more data out than
// came in. Then a stream built from the input by the encoders (data runs,
// negotiations, COM-PORT-OPTION commands with 0xFF in their values), cut
// into reads of sizes the input picks: the data comes out exactly as it
// went in, 0xFF undoubled, and every command as it was sent.
#include "protocol/Rfc2217Codec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

class Collect : public Rfc2217::Sink {
public:
    QByteArray bytes;
    QByteArray commands;
    void data(const char* run, int count) override { bytes.append(run, count); }
    void negotiation(Rfc2217::Command verb, uint8_t option) override {
        commands += Rfc2217::negotiation(verb, option);
    }
    void comPort(uint8_t code, const QByteArray& value) override {
        commands += Rfc2217::comPort(code, value);
    }
};

void decodeInSteps(const QByteArray& stream, const uint8_t* steps, size_t count,
                   Rfc2217::Sink& sink) {
    Rfc2217::Decoder decoder(sink);
    qsizetype at = 0;
    for (size_t i = 0; at < stream.size(); ++i) {
        const qsizetype step = count ? 1 + steps[i % count] % 64 : stream.size();
        decoder.take(stream.mid(at, step));
        at += step;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    Collect raw;
    decodeInSteps(input, data, size, raw);
    if (raw.bytes.size() > input.size())
        std::abort();

    // Each input byte below 0xF0 is data; a byte from 0xF0 up, with the two
    // after it, becomes a command.
    QByteArray stream, sent, commands;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] < 0xF0 || i + 2 >= size) {
            // Shifted, so that data holds 0xFF too.
            const char byte = char(data[i] + 0x10);
            stream += Rfc2217::encodeData(QByteArray(1, byte));
            sent += byte;
            continue;
        }
        const QByteArray command =
            data[i] & 1
                ? Rfc2217::negotiation(Rfc2217::Command(Rfc2217::Will + data[i + 1] % 4),
                                       data[i + 2])
                : Rfc2217::comPort(Rfc2217::SetBaudRate + (data[i] & 2) * 50,
                                   Rfc2217::baudRateValue(data[i + 1] * 0x01010101u ^ data[i + 2]));
        stream += command;
        commands += command;
        i += 2;
    }
    Collect decoded;
    decodeInSteps(stream, data, size, decoded);
    if (decoded.bytes != sent || decoded.commands != commands)
        std::abort();
    return 0;
}
