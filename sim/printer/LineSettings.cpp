#include "sim/printer/LineSettings.h"

#include "sim/printer/VirtualPrinter.h"

#include <QRegularExpression>
#include <QVariantMap>

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

void warnLineMismatch(VirtualPrinter& printer, const LineSettings& client,
                      const LineSettings& line) {
    // Same settings yet noise: the client sent bytes wider than its own data bits.
    const QString client_ = client.text(), printer_ = line.text();
    printer.logWarning(
        (client_ == printer_
             ? QStringLiteral("Bytes maiores que a linha %1 do cliente (impressora %2)")
             : QStringLiteral("Linha do cliente %1 diferente da linha da impressora %2"))
                .arg(client_, printer_) +
            QStringLiteral(": bytes descartados como ruído"),
        QStringLiteral("line-mismatch"),
        QVariantMap{{QStringLiteral("client"), client_}, {QStringLiteral("printer"), printer_}});
}
