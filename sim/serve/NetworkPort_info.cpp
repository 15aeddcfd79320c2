// Where a network port listens, and what it tells of itself: the address a
// user gives and the one it has, the client's serial port for "state" and
// the log.
#include "sim/serve/NetworkPort.h"

#include "sim/printer/PrinterWords.h"
#include "sim/printer/VirtualPrinter.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QVariantMap>

QString NetworkPort::hostPort(const QHostAddress& host, quint16 port) {
    const QString address =
        host.protocol() == QAbstractSocket::AnyIPProtocol ? QStringLiteral("::") : host.toString();
    return host.protocol() == QAbstractSocket::IPv4Protocol
               ? QStringLiteral("%1:%2").arg(address).arg(port)
               : QStringLiteral("[%1]:%2").arg(address).arg(port);
}

bool NetworkPort::canListen(Kind kind, const QString& where, QString* error) {
    QTcpServer probe;
    return listenOn(probe, kind, where, error);
}

bool NetworkPort::listenOn(QTcpServer& server, Kind kind, const QString& where, QString* error) {
    return listenAt(server,
                    kind == Kind::Raw ? QStringLiteral("--listen") : QStringLiteral("--rfc2217"),
                    where, error);
}

bool NetworkPort::listenAt(QTcpServer& server, const QString& option, const QString& where,
                           QString* error) {
    const qsizetype colon = where.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QString() : where.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool portOk = false;
    const uint port = where.mid(colon + 1).toUInt(&portOk);
    QHostAddress address(QHostAddress::LocalHost);
    const bool valid = host.isEmpty() || address.setAddress(host);
    // [::] is every interface, IPv4 ones included, as users of it expect.
    if (address == QHostAddress::AnyIPv6)
        address = QHostAddress::Any;
    if (!portOk || port > 65535 || !valid) {
        *error = QStringLiteral("%1 %2: give [HOST:]PORT, HOST an IP address (0.0.0.0 for every "
                                "interface), PORT from 0 (any free one) to 65535")
                     .arg(option, where);
        return false;
    }
    if (!server.listen(address, quint16(port))) {
        *error = QStringLiteral("%1 %2: %3").arg(option, where, server.errorString());
        return false;
    }
    return true;
}

QString NetworkPort::address() const {
    return addressOf(*server_);
}

QString NetworkPort::addressOf(const QTcpServer& server) {
    return hostPort(server.serverAddress(), server.serverPort());
}

void NetworkPort::logUart() {
    if (!session_)
        return;
    const Rfc2217Session::Uart& uart = session_->uart();
    static const QString flows[] = {QStringLiteral("nenhum"), QStringLiteral("XON/XOFF"),
                                    QStringLiteral("por hardware")};
    printer_->logEvent(
        QStringLiteral("Cliente %1: %2, controle de fluxo %3, DTR %4, RTS %5, break %6")
            .arg(peer_, uart.line.text(), flows[int(uart.flow)], onOff(uart.dtr), onOff(uart.rts),
                 onOff(uart.breakOn)),
        QStringLiteral("line-settings"),
        QVariantMap{{QStringLiteral("line"), uart.line.text()},
                    {QStringLiteral("flow"), Rfc2217Session::flowName(uart.flow)},
                    {QStringLiteral("dtr"), uart.dtr},
                    {QStringLiteral("rts"), uart.rts},
                    {QStringLiteral("break"), uart.breakOn}});
}

QJsonObject NetworkPort::state() const {
    QJsonObject state{{QStringLiteral("address"), address()},
                      {QStringLiteral("client"), client_ ? QJsonValue(peer_) : QJsonValue()}};
    if (kind_ == Kind::Raw)
        return state;
    const Rfc2217Session::Uart uart = session_ ? session_->uart() : Rfc2217Session::Uart{line_};
    state.insert(QStringLiteral("settings"), uart.line.text());
    state.insert(QStringLiteral("flow"), Rfc2217Session::flowName(uart.flow));
    state.insert(QStringLiteral("dtr"), uart.dtr);
    state.insert(QStringLiteral("rts"), uart.rts);
    state.insert(QStringLiteral("break"), uart.breakOn);
    state.insert(QStringLiteral("cts"), session_ ? ctsOn() : cts(*printer_));
    state.insert(QStringLiteral("dsr"), true);
    state.insert(QStringLiteral("cd"), true);
    state.insert(QStringLiteral("noise"), noise_);
    return state;
}
