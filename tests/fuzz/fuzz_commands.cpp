// Feeds arbitrary entry texts to the decimal conversion and arbitrary reply
// buffers and counts to the two reply decoders. Where the text is plain
// ASCII the conversion is checked against the C library's strtoll.
#include "protocol/CommandBuilders.h"
#include "protocol/ParameterRules.h"
#include "protocol/Replies.h"
#include "protocol/Windows1252.h"

#include <QByteArray>
#include <QString>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void checkDecimal(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const int value = Commands::decimalToInt(QString::fromLatin1(bytes));
    Commands::pageSizeCommand(value);
    Commands::lineFeedCommand(value, data[0] & 1);

    for (const char c : bytes)
        if (c == '\0' || static_cast<uint8_t>(c) >= 0x80)
            return;
    const std::string text(bytes.constData(), bytes.size());
    long long expected = std::strtoll(text.c_str(), nullptr, 10);
    expected = expected > INT_MAX ? INT_MAX : expected < INT_MIN ? INT_MIN : expected;
    if (value != expected)
        std::abort();
}

void checkReplies(const uint8_t* data, size_t size) {
    const int count = static_cast<int8_t>(data[0]);
    const QByteArrayView reply(data + 1, static_cast<qsizetype>(size - 1));
    const auto status = Commands::decodeStatusReply(reply, count);
    const auto identification = Commands::decodeIdentificationReply(reply, count);
    if ((status && status->size() > 8) || (identification && identification->size() > 16))
        std::abort();
    if (status && status->contains('\0'))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    checkDecimal(data, size);
    checkReplies(data, size);
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (Windows1252::encode(Windows1252::decode(bytes)) != bytes)
        std::abort();
    return 0;
}
