#include "sim/serve/NetworkPort.h"

#include "sim/printer/PrinterWords.h"
#include "sim/printer/VirtualPrinter.h"
#include "sim/serve/Acceptor.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One turn of the event loop takes no more than this from a client.
constexpr qsizetype TurnBytes = 16 * 1024;
constexpr qint64 TurnMs = 10;
constexpr qsizetype ReadChunk = 4096;
// The printer takes the bytes in pieces, the turn's time looked at between
// them: a piece of requests whose every reply is logged takes a while.
constexpr qsizetype DeliverPiece = 1024;
// What Qt reads ahead of the printer from a client's socket, and the
// kernel's buffers of the listening socket, which its clients inherit (the
// kernel doubles them, up from a floor of about 2 kB). All small: a client
// that resets must find about what a printer's buffer holds still printing,
// not megabytes, and replies it leaves unread must soon make the printer
// busy; the rest waits at the sender.
constexpr qint64 ReadAhead = 512;
constexpr int ReceiveBuffer = 1024;
constexpr int SendBuffer = 4096;
// Under hardware flow control the port looks at CTS before each piece.
constexpr qsizetype FlowPiece = 64;
// A client that has closed is given this long to take its last replies.
constexpr int LingerMs = 2000;

// A byte with bits beyond the line's data bits cannot have crossed it: the
// client's program and its serial port disagree.
bool wider(const QByteArray& bytes, int dataBits) {
    return dataBits < 8 && std::any_of(bytes.begin(), bytes.end(),
                                       [dataBits](char c) { return uint8_t(c) >> dataBits; });
}

} // namespace

NetworkPort::NetworkPort(VirtualPrinter* printer, Kind kind, const LineSettings& line,
                         QObject* parent)
    : QObject(parent), printer_(printer), kind_(kind), line_(line), server_(new QTcpServer(this)) {
    idleTimeout_.setSingleShot(true);
    connect(&idleTimeout_, &QTimer::timeout, this, &NetworkPort::idle);
    linger_.setSingleShot(true);
    linger_.setInterval(LingerMs);
    connect(&linger_, &QTimer::timeout, this, [this] {
        dropOut(QStringLiteral("o cliente não as leu"));
        readable();
    });
    printer_->setReportsDelivery(true);
    connect(printer_, &VirtualPrinter::replied, this, &NetworkPort::reply);
    connect(printer_, &VirtualPrinter::stateChanged, this, &NetworkPort::followPrinter);
    nextTurn_.setSingleShot(true);
    connect(&nextTurn_, &QTimer::timeout, this, &NetworkPort::readable);
    uartSettled_.setSingleShot(true);
    connect(&uartSettled_, &QTimer::timeout, this, &NetworkPort::logUart);
}

NetworkPort::~NetworkPort() {
    if (client_)
        dropOut(QStringLiteral("a impressora parou"));
    writable_.reset();
    if (out_ >= 0)
        ::close(out_);
}

QString NetworkPort::kindName() const {
    return kind_ == Kind::Raw ? QStringLiteral("TCP") : QStringLiteral("RFC 2217");
}

bool NetworkPort::cts(const VirtualPrinter& printer) {
    return printer.ready();
}

bool NetworkPort::hardwareFlow() const {
    return session_ && session_->uart().flow == Rfc2217Session::Flow::Hardware;
}

// QTcpServer binds and listens; the connections are taken here, one at a
// time: the next waits in the listen backlog until this one has closed.
bool NetworkPort::listen(const QString& where, QString* error) {
    if (!listenOn(*server_, kind_, where, error))
        return false;
    server_->pauseAccepting();
    // Before any client connects: the window a client is offered comes from
    // the listener's buffer.
    const int listener = int(server_->socketDescriptor());
    ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    ::setsockopt(listener, SOL_SOCKET, SO_SNDBUF, &SendBuffer, sizeof SendBuffer);
    acceptor_ = std::make_unique<Acceptor>(
        listener, [this](int descriptor) { accept(descriptor); },
        [this](int error) { acceptFailed(error); });
    return true;
}

// A client that cannot be given the second descriptor it needs is closed at
// once, and said, rather than served without replies.
void NetworkPort::accept(int descriptor) {
    out_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (out_ < 0) {
        acceptFailed(errno);
        ::close(descriptor);
        return;
    }
    acceptor_->setEnabled(false);
    client_ = new QTcpSocket(this);
    client_->setReadBufferSize(ReadAhead);
    client_->setSocketDescriptor(descriptor);
    peer_ = hostPort(client_->peerAddress(), client_->peerPort());
    closed_ = client_->state() != QAbstractSocket::ConnectedState;
    gone_ = false;
    writable_ = std::make_unique<QSocketNotifier>(out_, QSocketNotifier::Write);
    writable_->setEnabled(false);
    connect(writable_.get(), &QSocketNotifier::activated, this, &NetworkPort::flushOut);
    suspended_ = false;
    mismatchSaid_ = false;
    noise_ = 0;
    connect(client_, &QTcpSocket::readyRead, this, &NetworkPort::readable);
    connect(client_, &QTcpSocket::disconnected, this, &NetworkPort::clientClosed);
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
    if (idleTimeout_.interval() > 0)
        idleTimeout_.start();
    readable();
}

void NetworkPort::acceptFailed(int error) {
    printer_->logWarning(QStringLiteral("Porta %1 em %2: conexão não aceita (%3); nova "
                                        "tentativa em instantes")
                             .arg(kindName(), address(), QString::fromLocal8Bit(strerror(error))),
                         QStringLiteral("accept-failed"));
}

void NetworkPort::readable() {
    if (!client_)
        return;
    QElapsedTimer turn;
    turn.start();
    bool spent = false;
    for (qsizetype taken = 0; taken < TurnBytes && !spent;) {
        spent = !deliver(turn);
        const qsizetype read = spent ? 0 : readTurn();
        if (read == 0)
            break;
        taken += read;
    }
    spent = spent || !deliver(turn);
    if (spent || (client_->bytesAvailable() > 0 && !held()))
        nextTurn_.start(); // the turn is spent, not the bytes
    else if (closed_ && inbox_.isEmpty() && client_->bytesAvailable() == 0 && outbox_.isEmpty())
        finish();
    else if (closed_ && inbox_.isEmpty() && client_->bytesAvailable() == 0 && !linger_.isActive())
        linger_.start(); // only replies are left, for a client that may still read
}

// The client must wait: on raw TCP while the printer is busy (its buffer or
// its reply buffer full); on RFC 2217 while the UART buffer is full.
bool NetworkPort::held() const {
    if (kind_ == Kind::Rfc2217)
        return inbox_.size() >= UartBuffer;
    return printer_->room() == 0 || replyFull();
}

bool NetworkPort::replyFull() const {
    return held_.size() + outbox_.size() >= ReplyBuffer;
}

bool NetworkPort::ctsOn() const {
    return cts(*printer_) && !replyFull();
}

// One piece from the socket, unless the client must wait. A piece of the
// telnet stream carries at most as many data bytes as it has.
qsizetype NetworkPort::readTurn() {
    if (held())
        return 0;
    const qsizetype want = kind_ == Kind::Raw
                               ? std::min<qsizetype>(ReadChunk, printer_->room())
                               : std::min<qsizetype>(ReadChunk, UartBuffer - inbox_.size());
    const QByteArray bytes = client_->read(want);
    if (!bytes.isEmpty() && idleTimeout_.interval() > 0)
        idleTimeout_.start();
    if (session_)
        session_->take(bytes);
    else
        inbox_ += bytes;
    return bytes.size();
}

// What the client sent goes to the printer as the serial port would pass it,
// until the turn's time is spent (false) or nothing more can go now.
bool NetworkPort::deliver(const QElapsedTimer& turn) {
    while (!inbox_.isEmpty()) {
        if (turn.elapsed() >= TurnMs)
            return false;
        qsizetype n = std::min(inbox_.size(), DeliverPiece);
        if (replyFull())
            return true; // busy: the bytes wait in the buffer, and then at the sender
        if (session_) {
            if (session_->uart().breakOn && !closed_)
                return true; // a line held in break carries nothing until it ends
            const LineSettings& line = session_->uart().line;
            if (!(line == line_) || wider(inbox_, line.dataBits)) {
                noise(inbox_.size());
                return true;
            }
            if (hardwareFlow() && !ctsOn())
                return true;
            if (hardwareFlow())
                n = std::min(n, FlowPiece);
        }
        if (kind_ == Kind::Raw || hardwareFlow())
            n = std::min<qsizetype>(n, printer_->room());
        if (n == 0)
            return true;
        take(inbox_.left(n));
        inbox_.remove(0, n);
    }
    return true;
}

void NetworkPort::noise(qsizetype bytes) {
    inbox_.clear();
    noise_ += bytes;
    if (!std::exchange(mismatchSaid_, true))
        warnLineMismatch(*printer_, session_->uart().line, line_);
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
    dropOut(QStringLiteral("o cliente fechou a conexão"));
    printer_->logEvent(QStringLiteral("Cliente %1 desconectado da porta %2").arg(peer_, kindName()),
                       QStringLiteral("port-close"), peer_);
    linger_.stop();
    idleTimeout_.stop();
    writable_.reset();
    if (out_ >= 0)
        ::close(out_);
    out_ = -1;
    client_->disconnect();
    client_->abort();
    client_->deleteLater();
    client_ = nullptr;
    session_.reset();
    inbox_.clear();
    peer_.clear();
    acceptor_->setEnabled(true);
}

// Nothing came from the client, and nothing waits for it, for the time-out:
// as a network printer does, it is closed and the next one served.
void NetworkPort::idle() {
    if (!client_ || closed_)
        return;
    if (!inbox_.isEmpty() || client_->bytesAvailable() > 0 || !outbox_.isEmpty())
        return idleTimeout_.start(); // its bytes are waiting on the printer
    printer_->logEvent(QStringLiteral("Cliente %1 fechado após %2 s sem atividade")
                           .arg(peer_)
                           .arg(idleTimeout_.interval() / 1000),
                       QStringLiteral("idle-timeout"), peer_);
    finish();
}

void NetworkPort::reply(const QByteArray& bytes) {
    if (!receiving_ || !client_)
        return;
    const QByteArray out = session_ ? Rfc2217::encodeData(bytes) : bytes;
    if (suspended_ && !gone_)
        held_.append(out, bytes);
    else
        toClient(out, bytes);
    if (replyFull())
        followPrinter();
}

// A reply is logged as sent once the client's kernel has taken its last byte.
void NetworkPort::toClient(const QByteArray& bytes, const QByteArray& reply) {
    if (gone_) {
        dropped_ += reply.size(); // said when it has closed
        return;
    }
    outbox_.append(bytes, reply);
    flushOut();
}

// As much as the client's socket takes now; the rest when it has room.
void NetworkPort::flushOut() {
    const bool wasFull = replyFull();
    bool sent = false;
    while (!outbox_.isEmpty() && !gone_) {
        const ssize_t n = ::send(out_, outbox_.bytes().constData(), size_t(outbox_.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent = true;
            for (const QByteArray& reply : outbox_.remove(n))
                printer_->replyLeft(reply);
        } else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        else
            gone_ = true;
    }
    if (gone_)
        dropOut(QStringLiteral("o cliente fechou a conexão"));
    if (writable_)
        writable_->setEnabled(!outbox_.isEmpty());
    if (sent && idleTimeout_.interval() > 0)
        idleTimeout_.start();
    if (wasFull && !replyFull()) {
        followPrinter(); // the printer is no longer busy
        nextTurn_.start();
    }
    if (closed_ && outbox_.isEmpty())
        nextTurn_.start();
}

// Replies that cannot reach the client are said, not passed off as sent.
void NetworkPort::dropOut(const QString& why) {
    dropped_ += outbox_.clear() + held_.clear();
    if (writable_)
        writable_->setEnabled(false);
    logDropped(std::exchange(dropped_, 0), why);
}

void NetworkPort::logDropped(qint64 bytes, const QString& why) {
    if (bytes > 0)
        printer_->logWarning(
            QStringLiteral("%1 byte(s) de resposta ao cliente %2 descartado(s): %3")
                .arg(bytes)
                .arg(peer_, why),
            QStringLiteral("reply-dropped"), bytes);
}

// The lines within moments of each change; the bytes waiting may go on.
void NetworkPort::followPrinter() {
    if (session_) {
        const bool ready = ctsOn();
        const uint8_t lines =
            (ready ? Rfc2217::Modem::Cts : 0) | Rfc2217::Modem::Dsr | Rfc2217::Modem::Cd;
        if (lines != session_->modemLines()) {
            session_->setModemLines(lines);
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
    if (client_)
        toClient(bytes);
}

void NetworkPort::uartChanged() {
    mismatchSaid_ = false;
    uartSettled_.start(0);
    nextTurn_.start();
}

void NetworkPort::purge(bool fromPrinter, bool toPrinter) {
    if (fromPrinter && !held_.isEmpty()) {
        logDropped(held_.clear(), QStringLiteral("o cliente pediu o descarte"));
        followPrinter(); // the printer may have been busy with them
    }
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
    if (!suspended && client_ && !held_.isEmpty()) {
        outbox_.append(held_);
        flushOut();
    }
}
