#include "protocol/Windows1252.h"

#include <array>
#include <cstdint>

namespace {

// Bytes 0x80 to 0x9F. The five bytes the code page leaves unassigned map to
// the C1 control of the same value, as Windows' own table does.
constexpr std::array<char16_t, 32> HighTable = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

char encodeOne(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (std::size_t i = 0; i < HighTable.size(); ++i)
        if (HighTable[i] == unit)
            return static_cast<char>(0x80 + i);
    return '?';
}

} // namespace

namespace Windows1252 {

QByteArray encode(QStringView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            bytes.append('?');
            ++i;
            continue;
        }
        bytes.append(c.isSurrogate() ? '?' : encodeOne(c.unicode()));
    }
    return bytes;
}

QChar decodeByte(uint8_t byte) {
    return QChar(byte >= 0x80 && byte < 0xA0 ? HighTable[byte - 0x80] : char16_t(byte));
}

std::optional<QChar> altCode(QStringView digits) {
    bool ok = false;
    const uint code = digits.toUInt(&ok);
    if (!ok || code > 0xFF)
        return std::nullopt;
    return decodeByte(uint8_t(code));
}

QString decode(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char b : bytes)
        text.append(decodeByte(static_cast<uint8_t>(b)));
    return text;
}

} // namespace Windows1252
