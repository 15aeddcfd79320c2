#include "sim/NetworkPort.h"

#include "sim/PrinterWords.h"
#include "sim/VirtualPrinter.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVariantMap>

namespace {

// One turn of the event loop takes no more than this from a client.
constexpr qsizetype TurnBytes = 16 * 1024;
constexpr qint64 TurnMs = 10;
constexpr qsizetype ReadChunk = 4096;
// What Qt reads ahead of the printer from a client's socket, and the replies
// a client may leave unread before no more of its bytes are read.
constexpr qint64 ReadAhead = 16 * 1024;
constexpr qint64 MaxUnreadReplies = 64 * 1024;
// Under hardware flow control the port looks at CTS before each piece.
constexpr qsizetype FlowPiece = 64;

// The TCP server that keeps one client waiting, with what Qt reads of it
// bounded, while another is served.
class OneAtATime : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        socket->setReadBufferSize(ReadAhead);
        socket->setSocketDescriptor(descriptor);
        addPendingConnection(socket);
    }
};

QString hostPort(const QHostAddress& host, quint16 port) {
    const QString address = host.toString();
    return host.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]:%2").arg(address).arg(port)
               : QStringLiteral("%1:%2").arg(address).arg(port);
}

} // namespace

NetworkPort::NetworkPort(VirtualPrinter* printer, Kind kind, const LineSettings& line,
                         QObject* parent)
    : QObject(parent), printer_(printer), kind_(kind), line_(line), server_(new OneAtATime(this)) {
    server_->setMaxPendingConnections(1);
    connect(server_, &QTcpServer::newConnection, this, &NetworkPort::accept);
    connect(printer_, &VirtualPrinter::replied, this, &NetworkPort::reply);
    connect(printer_, &VirtualPrinter::stateChanged, this, &NetworkPort::followPrinter);
    nextTurn_.setSingleShot(true);
    connect(&nextTurn_, &QTimer::timeout, this, &NetworkPort::readable);
    uartSettled_.setSingleShot(true);
    connect(&uartSettled_, &QTimer::timeout, this, &NetworkPort::logUart);
}

NetworkPort::~NetworkPort() = default;

QString NetworkPort::kindName() const {
    return kind_ == Kind::Raw ? QStringLiteral("TCP") : QStringLiteral("RFC 2217");
}

bool NetworkPort::cts(const VirtualPrinter& printer) {
    return printer.ready();
}

bool NetworkPort::hardwareFlow() const {
    return session_ && session_->uart().flow == Rfc2217Session::Flow::Hardware;
}

bool NetworkPort::listen(const QString& where, QString* error) {
    return listenOn(*server_, kind_, where, error);
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
    if (!portOk || port > 65535 || (!host.isEmpty() && !address.setAddress(host))) {
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

// The next client waits, in the listen backlog or accepted and unread,
// until this one has closed.
void NetworkPort::accept() {
    if (client_ || !server_->hasPendingConnections())
        return;
    client_ = server_->nextPendingConnection();
    peer_ = hostPort(client_->peerAddress(), client_->peerPort());
    closed_ = client_->state() != QAbstractSocket::ConnectedState;
    suspended_ = false;
    mismatchSaid_ = false;
    noise_ = 0;
    connect(client_, &QTcpSocket::readyRead, this, &NetworkPort::readable);
    connect(client_, &QTcpSocket::disconnected, this, &NetworkPort::clientClosed);
    connect(client_, &QTcpSocket::bytesWritten, &nextTurn_, qOverload<>(&QTimer::start));
    printer_->logEvent(
        QStringLiteral("Cliente %1 conectado à porta %2 em %3").arg(peer_, kindName(), address()),
        QStringLiteral("port-open"), peer_);
    if (kind_ == Kind::Rfc2217) {
        Rfc2217Session::Listener& listener = *this;
        session_ = std::make_unique<Rfc2217Session>(listener, line_);
        session_->setModemLines(0);
        followPrinter();
        session_->start();
    }
    readable();
}

void NetworkPort::readable() {
    if (!client_)
        return;
    QElapsedTimer turn;
    turn.start();
    for (qsizetype taken = 0; taken < TurnBytes && turn.elapsed() < TurnMs;) {
        deliver();
        const qsizetype read = inbox_.isEmpty() ? readTurn() : 0;
        if (read == 0)
            break;
        taken += read;
    }
    deliver();
    if (inbox_.isEmpty() && client_->bytesAvailable() > 0 && !held())
        nextTurn_.start(); // the turn is spent, not the bytes
    else if (closed_ && inbox_.isEmpty() && client_->bytesAvailable() == 0)
        finish();
}

// The client must wait: replies it has not read, a full buffer (raw TCP),
// or CTS off under hardware flow control.
bool NetworkPort::held() const {
    return client_->bytesToWrite() >= MaxUnreadReplies || (hardwareFlow() && !cts(*printer_)) ||
           (kind_ == Kind::Raw && printer_->room() == 0);
}

// One piece from the socket, unless the client must wait.
qsizetype NetworkPort::readTurn() {
    if (held())
        return 0;
    const qsizetype want =
        kind_ == Kind::Raw ? std::min<qsizetype>(ReadChunk, printer_->room()) : ReadChunk;
    const QByteArray bytes = client_->read(want);
    if (session_)
        session_->take(bytes);
    else
        inbox_ += bytes;
    return bytes.size();
}

// What the client sent goes to the printer as the serial port would pass it.
void NetworkPort::deliver() {
    while (!inbox_.isEmpty()) {
        qsizetype n = inbox_.size();
        if (session_) {
            if (session_->uart().breakOn)
                return; // a line held in break carries nothing
            if (!(session_->uart().line == line_))
                return noise(n);
            if (hardwareFlow() && !cts(*printer_))
                return;
            if (hardwareFlow())
                n = std::min(n, FlowPiece);
        }
        if (kind_ == Kind::Raw || hardwareFlow())
            n = std::min<qsizetype>(n, printer_->room());
        if (n == 0)
            return;
        take(inbox_.left(n));
        inbox_.remove(0, n);
    }
}

void NetworkPort::noise(qsizetype bytes) {
    inbox_.clear();
    noise_ += bytes;
    if (std::exchange(mismatchSaid_, true))
        return;
    const QString client = session_->uart().line.text(), printer = line_.text();
    printer_->logWarning(
        QStringLiteral("Linha do cliente %1 diferente da linha da impressora "
                       "%2: bytes descartados como ruído")
            .arg(client, printer),
        QStringLiteral("line-mismatch"),
        QVariantMap{{QStringLiteral("client"), client}, {QStringLiteral("printer"), printer}});
}

void NetworkPort::take(const QByteArray& bytes) {
    receiving_ = true;
    printer_->receive(bytes);
    receiving_ = false;
}

// What it sent before its close is still taken, then the next client comes in.
void NetworkPort::clientClosed() {
    closed_ = true;
    readable();
}

void NetworkPort::finish() {
    printer_->logEvent(QStringLiteral("Cliente %1 desconectado da porta %2").arg(peer_, kindName()),
                       QStringLiteral("port-close"), peer_);
    client_->disconnect();
    client_->deleteLater();
    client_ = nullptr;
    session_.reset();
    inbox_.clear();
    held_.clear();
    peer_.clear();
    accept();
}

void NetworkPort::reply(const QByteArray& bytes) {
    if (!receiving_ || !client_ || closed_)
        return;
    const QByteArray out = session_ ? Rfc2217::encodeData(bytes) : bytes;
    if (suspended_)
        held_ += out;
    else
        client_->write(out);
}

// The lines within moments of each change; the bytes waiting may go on.
void NetworkPort::followPrinter() {
    if (session_) {
        const bool ready = cts(*printer_);
        const uint8_t lines =
            (ready ? Rfc2217::Modem::Cts : 0) | Rfc2217::Modem::Dsr | Rfc2217::Modem::Cd;
        if (lines != session_->modemLines()) {
            session_->setModemLines(lines);
            client_->flush();
            printer_->logEvent(QStringLiteral("Linhas para o cliente %1: CTS %2, DSR ligado, "
                                              "CD ligado")
                                   .arg(peer_, onOff(ready)),
                               QStringLiteral("modem-state"),
                               QVariantMap{{QStringLiteral("cts"), ready},
                                           {QStringLiteral("dsr"), true},
                                           {QStringLiteral("cd"), true}});
        }
    }
    if (client_ && (!inbox_.isEmpty() || client_->bytesAvailable() > 0 || closed_))
        nextTurn_.start();
}

void NetworkPort::send(const QByteArray& bytes) {
    if (client_ && !closed_)
        client_->write(bytes);
}

void NetworkPort::uartChanged() {
    mismatchSaid_ = false;
    uartSettled_.start(0);
    nextTurn_.start();
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

void NetworkPort::purge(bool fromPrinter, bool toPrinter) {
    if (fromPrinter)
        held_.clear();
    if (toPrinter)
        inbox_.clear(); // what came before the request and has not gone on yet
    printer_->logEvent(QStringLiteral("Cliente %1 pediu o descarte dos dados %2")
                           .arg(peer_, fromPrinter && toPrinter
                                           ? QStringLiteral("nos dois sentidos")
                                       : fromPrinter ? QStringLiteral("da impressora")
                                                     : QStringLiteral("para a impressora")),
                       QStringLiteral("purge"));
}

void NetworkPort::suspend(bool suspended) {
    suspended_ = suspended;
    if (!suspended && client_ && !held_.isEmpty())
        client_->write(std::exchange(held_, {}));
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
    state.insert(QStringLiteral("cts"), cts(*printer_));
    state.insert(QStringLiteral("dsr"), true);
    state.insert(QStringLiteral("cd"), true);
    state.insert(QStringLiteral("noise"), noise_);
    return state;
}
