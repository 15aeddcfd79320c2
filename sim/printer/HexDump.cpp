#include "sim/printer/HexDump.h"

#include "protocol/Windows1252.h"

QString hexDumpLine(QByteArrayView bytes, int width) {
    QString hex;
    QString text;
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        hex += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        const QChar ch = Windows1252::decodeByte(b);
        text += ch.isPrint() ? ch : QLatin1Char('.');
    }
    return hex.leftJustified(3 * width) + QLatin1Char(' ') + text;
}
