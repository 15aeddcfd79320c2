#include "sim/PrinterLine.h"

#include <QRegularExpression>

std::optional<LineSettings> LineSettings::parse(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^(\\d{1,7}),([5-8])([NEOMS])(1|1\\.5|2)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    LineSettings line;
    line.rate = m.captured(1).toUInt();
    if (line.rate == 0 || line.rate > MaxRate)
        return std::nullopt;
    line.dataBits = uint8_t(m.captured(2).toUInt());
    line.parity = m.captured(3).toUpper().at(0).toLatin1();
    line.halfStopBits = uint8_t(m.captured(4) == QLatin1String("1")     ? 2
                                : m.captured(4) == QLatin1String("1.5") ? 3
                                                                        : 4);
    return line;
}

QString LineSettings::text() const {
    const QString stop = halfStopBits == 2   ? QStringLiteral("1")
                         : halfStopBits == 3 ? QStringLiteral("1.5")
                                             : QStringLiteral("2");
    return QStringLiteral("%1,%2%3%4").arg(rate).arg(dataBits).arg(QLatin1Char(parity)).arg(stop);
}
