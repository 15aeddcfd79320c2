#include "link/comport/NetworkAddress.h"

#include <QHash>
#include <QRegularExpression>

std::optional<NetworkAddress> NetworkAddress::parse(const QString& url) {
    static const QRegularExpression form(
        QStringLiteral(R"(^(tcp|rfc2217)://(?:\[([0-9A-Fa-f:.]*:[0-9A-Fa-f:.%]*)\]|)"
                       R"(([A-Za-z0-9._-]+)):([0-9]{1,5})$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = form.match(url.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const int port = m.captured(4).toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    NetworkAddress address;
    address.kind = m.captured(1).compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0
                       ? Kind::Raw
                       : Kind::Rfc2217;
    address.host = m.captured(2).isEmpty() ? m.captured(3) : m.captured(2);
    address.port = uint16_t(port);
    return address;
}

bool NetworkAddress::isUrl(const QString& text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(text.trimmed()).hasMatch();
}

QString NetworkAddress::hostPort() const {
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}

namespace {
QHash<QString, NetworkFailure>& failures() {
    static QHash<QString, NetworkFailure> byUrl;
    return byUrl;
}
} // namespace

NetworkFailure NetworkFailure::last(const QString& url) {
    return failures().value(url.trimmed());
}

void NetworkFailure::record(const QString& url, const NetworkFailure& failure) {
    failures().insert(url.trimmed(), failure);
}
