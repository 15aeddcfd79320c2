#include "sim/serve/HttpPanel.h"

#include "sim/printer/VirtualPrinter.h"
#include "sim/serve/NetworkPort.h"
#include "sim/serve/PrinterControl.h"
#include "sim/serve/PrinterEvents.h"

#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTime>
#include <QUrlQuery>

namespace {

using Status = QHttpServerResponder::StatusCode;
using Headers = QList<std::pair<QByteArray, QByteArray>>;

// Changes in a row (a receipt printing) answer the waiting pages once.
constexpr int SettleMs = 40;
const char* const ReceivedBytes = "receivedBytes";

// The TCP server that keeps the number of connections and the size of a
// request bounded: a connection past the limit is closed unanswered, one
// that sends more than a request may hold before its answer is cut off.
class Listener : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        if (open_ >= HttpPanel::MaxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++open_;
        connect(socket, &QObject::destroyed, this, [this] { --open_; });
        // Connected before the HTTP server's own slot: it sees the bytes first.
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            const qint64 received =
                socket->property(ReceivedBytes).toLongLong() + socket->bytesAvailable();
            socket->setProperty(ReceivedBytes, received);
            if (received > HttpPanel::MaxRequestBytes)
                socket->abort();
        });
        connect(socket, &QTcpSocket::bytesWritten, socket,
                [socket] { socket->setProperty(ReceivedBytes, 0); });
        addPendingConnection(socket);
    }

private:
    int open_ = 0;
};

void respond(QHttpServerResponder& responder, Status status, const QByteArray& type,
             const QByteArray& body, const Headers& headers = {}) {
    responder.writeStatusLine(status);
    responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    // Nothing from elsewhere, and no other site may frame the page to steer clicks.
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'self'; frame-ancestors 'none'; form-action 'self'");
    for (const auto& [key, value] : headers)
        responder.writeHeader(key, value);
    responder.writeBody(body);
}

void refuse(QHttpServerResponder&& responder, Status status, const QString& why) {
    respond(responder, status, "text/plain; charset=utf-8", ("erro: " + why + '\n').toUtf8());
}

QByteArray header(const QHttpServerRequest& request, const char* name) {
    for (const auto& [key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

// A name this machine answers to: an address, localhost or its own name. A
// page that had its own name resolve to this machine is not one of them.
bool ownHost(const QByteArray& hostHeader) {
    const QUrl url(QStringLiteral("http://") + QString::fromLatin1(hostHeader));
    const QString host = url.host();
    if (!url.isValid() || host.isEmpty())
        return false;
    const QString machine = QSysInfo::machineHostName().toLower();
    return !QHostAddress(host).isNull() || host == QLatin1String("localhost") || host == machine ||
           host.startsWith(machine + QLatin1Char('.'));
}

// Sent by the page itself: browsers name the page that sends a POST in Origin.
bool samePage(const QHttpServerRequest& request) {
    const QByteArray site = header(request, "Sec-Fetch-Site");
    return header(request, "Origin").toLower() == "http://" + header(request, "Host").toLower() &&
           (site.isEmpty() || site == "same-origin");
}

QByteArray resource(const char* name) {
    QFile file(QStringLiteral(":/web/%1").arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A number in a query or a path, bounded; -1 when it is not one.
qint64 number(const QString& text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= 0 && value < (qint64(1) << 50) ? value : -1;
}

} // namespace

HttpPanel::HttpPanel(VirtualPrinter* printer, PrinterControl* control, QObject* parent)
    : QAbstractHttpServer(parent), printer_(printer), control_(control), paper_(printer) {
    clock_.start();
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    deadline_.setSingleShot(true);
    connect(&settle_, &QTimer::timeout, this, &HttpPanel::answerWaiters);
    connect(&deadline_, &QTimer::timeout, this, &HttpPanel::answerWaiters);
    for (const auto signal : {&VirtualPrinter::stateChanged, &VirtualPrinter::paperChanged,
                              &VirtualPrinter::paperCleared})
        connect(printer_, signal, this, &HttpPanel::changed);
    connect(printer_, &VirtualPrinter::printed, this, &HttpPanel::changed);
    connect(printer_, &VirtualPrinter::logged, this, &HttpPanel::logged);
    control_->addState(QStringLiteral("http"), [this] {
        return QJsonObject{{QStringLiteral("address"), address()}};
    });
}

HttpPanel::~HttpPanel() = default;

bool HttpPanel::listen(const QString& where, QString* error) {
    server_ = new Listener(this);
    if (!NetworkPort::listenAt(*server_, QStringLiteral("--http"), where, error) ||
        !paper_.open(error))
        return false;
    bind(server_);
    return true;
}

bool HttpPanel::canListen(const QString& where, QString* error) {
    QTcpServer probe;
    return NetworkPort::listenAt(probe, QStringLiteral("--http"), where, error);
}

QString HttpPanel::address() const {
    return server_ ? NetworkPort::addressOf(*server_) : QString();
}

void HttpPanel::changed() {
    ++version_;
    if (!waiters_.empty() && !settle_.isActive())
        settle_.start();
}

void HttpPanel::logged(const PrinterLogEntry& entry) {
    const qint64 ms = clock_.elapsed();
    const QString what = entry.text.isEmpty()
                             ? QStringLiteral("%1 %2").arg(entry.name, entry.bytes.toHex(' '))
                             : entry.text;
    events_.append({++lastEvent_, eventLine(entry, ms),
                    QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + what});
    if (events_.size() > KeptEvents)
        events_.removeFirst();
    changed();
}

WebPage::View HttpPanel::view() const {
    WebPage::View view{QJsonDocument::fromJson(control_->state()).object(), {}, version_};
    for (qsizetype i = std::max<qsizetype>(0, events_.size() - ShownEvents); i < events_.size();
         ++i)
        view.events << events_[i].shown;
    return view;
}

bool HttpPanel::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (!ownHost(header(request, "Host"))) {
        refuse(makeResponder(request, socket), Status::MisdirectedRequest,
               QStringLiteral("endereço desconhecido; use o endereço da máquina"));
        return true;
    }
    const QString path = request.url().path();
    if (path == QLatin1String("/command")) {
        command(request, socket);
        return true;
    }
    if (request.method() != QHttpServerRequest::Method::Get) {
        refuse(makeResponder(request, socket), Status::MethodNotAllowed,
               QStringLiteral("só GET, e POST em /command"));
        return true;
    }
    if (path == QLatin1String("/poll") || path == QLatin1String("/events")) {
        wait(request, socket, path == QLatin1String("/events"));
        return true;
    }
    if (paperRequest(path, socket, request))
        return true;
    auto responder = makeResponder(request, socket);
    const auto send = [&responder](const QByteArray& type, const QByteArray& body) {
        respond(responder, Status::Ok, type, body);
    };
    if (path == QLatin1String("/"))
        send("text/html; charset=utf-8", WebPage::page(view(), paper_));
    else if (path == QLatin1String("/state"))
        send("application/json", control_->state() + '\n');
    else if (path == QLatin1String("/app.js"))
        send("text/javascript; charset=utf-8", resource("app.js"));
    else if (path == QLatin1String("/style.css"))
        send("text/css; charset=utf-8", resource("style.css"));
    else
        refuse(std::move(responder), Status::NotFound, QStringLiteral("não existe: ") + path);
    return true;
}

void HttpPanel::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    refuse(makeResponder(request, socket), Status::NotFound, QStringLiteral("não existe"));
}

// /paper.txt, /paper/N.png, /rolls/ID.txt, /rolls/ID/N.png; the text from
// byte `from` of its printed lines when asked.
bool HttpPanel::paperRequest(const QString& path, QTcpSocket* socket,
                             const QHttpServerRequest& request) {
    static const QRegularExpression paper(
        QStringLiteral("^/(?:paper|rolls/(\\d{1,9}))(?:/(\\d{1,9})\\.png|\\.txt)$"));
    const auto match = paper.match(path);
    if (!match.hasMatch())
        return false;
    const int id = match.captured(1).isEmpty() ? paper_.rollId() : match.captured(1).toInt();
    const QString from = request.query().queryItemValue(QStringLiteral("from"));
    const bool png = !match.captured(2).isEmpty();
    std::optional<QByteArray> body;
    if (png)
        body = paper_.pagePng(id, match.captured(2).toInt());
    else if (from.isEmpty() || number(from) >= 0)
        body = paper_.text(id, from.isEmpty() ? 0 : number(from));
    if (!body || (png && body->isEmpty())) // no such page
        return false;
    auto responder = makeResponder(request, socket);
    respond(responder, Status::Ok, png ? "image/png" : "text/plain; charset=utf-8", *body);
    return true;
}

void HttpPanel::command(const QHttpServerRequest& request, QTcpSocket* socket) {
    static const QHash<QString, QString> commands{
        {QStringLiteral("paper-out"), QStringLiteral("paper out")},
        {QStringLiteral("paper-in"), QStringLiteral("paper in")},
        {QStringLiteral("offline-on"), QStringLiteral("offline on")},
        {QStringLiteral("offline-off"), QStringLiteral("offline off")},
        {QStringLiteral("reset"), QStringLiteral("reset")},
        {QStringLiteral("tear"), QStringLiteral("tear")}};
    auto responder = makeResponder(request, socket);
    if (request.method() != QHttpServerRequest::Method::Post)
        return refuse(std::move(responder), Status::MethodNotAllowed, QStringLiteral("use POST"));
    if (!samePage(request))
        return refuse(std::move(responder), Status::Forbidden,
                      QStringLiteral("comando só da própria página (Origin)"));
    const QString name = QUrlQuery(QString::fromUtf8(request.body()))
                             .queryItemValue(QStringLiteral("do"), QUrl::FullyDecoded);
    if (!commands.contains(name))
        return refuse(std::move(responder), Status::BadRequest,
                      QStringLiteral("use do=paper-out, paper-in, offline-on, offline-off, "
                                     "reset ou tear"));
    const QString answer = control_->run(commands.value(name));
    // A form sent without scripts goes back to the page; a script gets the answer.
    if (header(request, "Accept").contains("text/html"))
        respond(responder, Status::SeeOther, "text/plain; charset=utf-8", answer.toUtf8(),
                {{"Location", "/#fim"}});
    else
        respond(responder, Status::Ok, "text/plain; charset=utf-8", answer.toUtf8() + '\n');
}

void HttpPanel::wait(const QHttpServerRequest& request, QTcpSocket* socket, bool events) {
    const qint64 since = number(request.query().queryItemValue(QStringLiteral("since")));
    if (since < 0)
        return refuse(makeResponder(request, socket), Status::BadRequest,
                      QStringLiteral("use since=N, N um número"));
    waiters_.push_back(
        {makeResponder(request, socket), socket, events, since, QDeadlineTimer(WaitMs)});
    answerWaiters();
}

bool HttpPanel::due(const Waiter& waiter) const {
    return waiter.deadline.hasExpired() ||
           (waiter.events ? lastEvent_ > waiter.since : version_ != waiter.since);
}

void HttpPanel::answer(Waiter& waiter) {
    if (!waiter.events)
        return respond(waiter.responder, Status::Ok, "application/json",
                       WebPage::update(view(), paper_));
    QByteArray lines;
    for (const Event& event : events_)
        if (event.seq > waiter.since)
            lines += event.line;
    respond(waiter.responder, Status::Ok, "application/jsonl", lines,
            {{"Next-Since", QByteArray::number(lastEvent_)}});
}

// Answers the requests whose wait is over, and wakes again only for the
// next one's deadline: an idle page costs one wake-up per WaitMs.
void HttpPanel::answerWaiters() {
    QDeadlineTimer next = QDeadlineTimer::Forever;
    for (auto it = waiters_.begin(); it != waiters_.end();) {
        if (!it->socket || it->socket->state() != QAbstractSocket::ConnectedState) {
            it = waiters_.erase(it);
        } else if (due(*it)) {
            answer(*it);
            it = waiters_.erase(it);
        } else {
            next = std::min(next, it->deadline);
            ++it;
        }
    }
    if (next.isForever())
        deadline_.stop();
    else
        deadline_.start(int(std::max<qint64>(1, next.remainingTime())));
}
