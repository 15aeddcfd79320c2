#include "link/comport/lines/network/NetworkAddress.h"

#include <QHash>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <mutex>

std::optional<NetworkAddress> NetworkAddress::parse(const QString& url) {
    static const QRegularExpression form(
        QStringLiteral(
            R"(^(tcp|rfc2217)://(?:\[([0-9A-Fa-f:.]*:[0-9A-Fa-f:.]*(?:%[A-Za-z0-9._-]+)?)\]|)"
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

bool NetworkAddress::lacksZone() const {
    if (host.contains(QLatin1Char('%')))
        return false;
    in6_addr ip{};
    if (inet_pton(AF_INET6, host.toLatin1().constData(), &ip) != 1)
        return false;
    return ip.s6_addr[0] == 0xfe && (ip.s6_addr[1] & 0xc0) == 0x80;
}

namespace {
std::mutex failuresMutex;
QHash<QString, NetworkFailure>& failures() {
    static QHash<QString, NetworkFailure> byUrl;
    return byUrl;
}
} // namespace

NetworkFailure NetworkFailure::last(const QString& url) {
    std::lock_guard lock(failuresMutex);
    return failures().value(url.trimmed());
}

void NetworkFailure::record(const QString& url, const NetworkFailure& failure) {
    std::lock_guard lock(failuresMutex);
    failures().insert(url.trimmed(), failure);
}
