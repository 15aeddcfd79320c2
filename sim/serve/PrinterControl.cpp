#include "sim/serve/PrinterControl.h"

#include "sim/printer/VirtualPrinter.h"
#include "sim/serve/Acceptor.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr qsizetype MaxCommandLength = 256;
// What Qt reads ahead of the commands acted on: the rest waits in the socket.
constexpr qsizetype ReadAhead = 4 * MaxCommandLength;
// Answers a client has not read: no more of its lines are read beyond this,
// so a client that never reads is held by its own socket, not by our memory.
constexpr qint64 MaxUnreadAnswers = 64 * 1024;
const char* const SkippingLine = "skippingLine";
QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}
// The answer to "save" is still to come: the lines after it wait.
const char* const Saving = "saving";

QString styleName(PrintStyle style) {
    if (style.wide)
        return style.bold ? QStringLiteral("expanded-bold") : QStringLiteral("expanded");
    return style.bold ? QStringLiteral("emphasized") : QStringLiteral("normal");
}

// A switch with two words: the action for the first, or an error naming both.
QString toggle(const QStringList& words, const char* on, const char* off,
               const std::function<void(bool)>& set) {
    if (words.size() == 2 && (words[1] == QLatin1String(on) || words[1] == QLatin1String(off))) {
        set(words[1] == QLatin1String(on));
        return QStringLiteral("ok");
    }
    return QStringLiteral("erro: use %1 %2|%3")
        .arg(words[0], QLatin1String(on), QLatin1String(off));
}

} // namespace

std::optional<double> printSpeed(const QString& text) {
    bool ok = false;
    const double lines = text.toDouble(&ok);
    if (!ok || !(lines == 0 || (lines >= VirtualPrinter::MinLinesPerSecond &&
                                lines <= VirtualPrinter::MaxLinesPerSecond)))
        return std::nullopt;
    return lines;
}

PrinterControl::PrinterControl(VirtualPrinter* printer, Save save, QObject* parent)
    : QObject(parent), printer_(printer), save_(std::move(save)) {}

PrinterControl::~PrinterControl() {
    if (listener_ < 0)
        return;
    acceptor_.reset();
    ::close(listener_);
    QFile::remove(path_);
}

bool PrinterControl::listen(const QString& path, QString* error) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *error = QStringLiteral("--control %1: exists and is not a socket").arg(path);
            return false;
        }
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(200)) {
            *error = QStringLiteral("--control %1: another program answers there").arg(path);
            return false;
        }
        QFile::remove(path); // left by a printer that was killed
    }
    // Our own socket rather than QLocalServer's, which closes itself, and
    // removes the file, when an accept fails for want of descriptors.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof address.sun_path)) {
        *error = QStringLiteral("--control %1: the path is too long for a socket").arg(path);
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, MaxClients) != 0) {
        *error = QStringLiteral("--control %1: %2").arg(path, systemError());
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    listener_ = fd;
    path_ = path;
    acceptor_ = std::make_unique<Acceptor>(
        fd, [this](int client) { accept(client); },
        [this](int error) {
            printer_->logWarning(QStringLiteral("Controle: cliente não aceito (%1); nova "
                                                "tentativa em instantes")
                                     .arg(QString::fromLocal8Bit(std::strerror(error))),
                                 QStringLiteral("accept-failed"));
        });
    return true;
}

// Over the limit, the client is told at once and closed, not left waiting.
void PrinterControl::accept(int fd) {
    if (clients_ >= MaxClients) {
        const QByteArray refusal =
            QStringLiteral("erro: clientes demais (no máximo %1 de uma vez)\n")
                .arg(MaxClients)
                .toUtf8();
        [[maybe_unused]] const auto n =
            ::send(fd, refusal.constData(), size_t(refusal.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
        return;
    }
    auto* socket = new QLocalSocket(this);
    socket->setSocketDescriptor(fd);
    serve(socket);
}

void PrinterControl::serve(QLocalSocket* socket) {
    ++clients_;
    socket->setReadBufferSize(ReadAhead);
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
        --clients_;
        socket->deleteLater();
    });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readable(socket); });
    // Queued: flush() inside readable() reports bytes written too.
    connect(
        socket, &QLocalSocket::bytesWritten, this, [this, socket] { readable(socket); },
        Qt::QueuedConnection);
    readable(socket);
}

// A line longer than a command can be is refused whole: its answer is one
// error, and what follows it up to its line end is dropped unread.
void PrinterControl::readable(QLocalSocket* socket) {
    while (socket->bytesToWrite() < MaxUnreadAnswers && !socket->property(Saving).toBool()) {
        const bool skipping = socket->property(SkippingLine).toBool();
        if (socket->canReadLine()) {
            const QByteArray line = socket->readLine();
            socket->setProperty(SkippingLine, false);
            if (skipping)
                continue;
            if (line.trimmed() == "save") {
                save(socket);
                break;
            }
            socket->write(line.size() > MaxCommandLength
                              ? QByteArray("erro: linha longa demais\n")
                              : run(QString::fromUtf8(line).trimmed()).toUtf8() + '\n');
        } else if (socket->bytesAvailable() > MaxCommandLength) {
            socket->skip(socket->bytesAvailable());
            socket->setProperty(SkippingLine, true);
            if (!skipping)
                socket->write("erro: linha longa demais\n");
        } else {
            break;
        }
    }
    // At once: a script that sent its line and closed its side still gets the answer.
    socket->flush();
}

QString PrinterControl::run(const QString& line) {
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString verb = words.value(0);
    const auto alone = [&](const std::function<void()>& act) {
        if (words.size() != 1)
            return QStringLiteral("erro: %1 não leva argumentos").arg(verb);
        act();
        return QStringLiteral("ok");
    };
    if (verb == QLatin1String("paper"))
        return toggle(words, "out", "in", [this](bool out) { printer_->setPaperOut(out); });
    if (verb == QLatin1String("offline"))
        return toggle(words, "on", "off", [this](bool on) { printer_->setOffline(on); });
    if (verb == QLatin1String("model"))
        return toggle(words, "dual", "compatible", [this](bool dual) {
            printer_->setModel(dual ? PrinterModel::KorvexaDual : PrinterModel::Compatible);
        });
    if (verb == QLatin1String("speed")) {
        const auto speed = words.size() == 2 ? printSpeed(words[1]) : std::nullopt;
        if (!speed)
            return QStringLiteral("erro: use speed N, com N 0 (sem limite) ou de 0.1 a 1000");
        printer_->setLinesPerSecond(*speed);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("reset"))
        return alone([this] { printer_->powerReset(); });
    if (verb == QLatin1String("tear"))
        return alone([this] { printer_->clearPaper(); });
    if (verb == QLatin1String("state") && words.size() == 1)
        return QString::fromUtf8(state());
    return QStringLiteral("erro: comando desconhecido: %1").arg(line);
}

// The files are written elsewhere while this socket and every port are
// served. The answer goes through a descriptor of its own, so that it still
// reaches a script that closed its sending side after the command: Qt closes
// such a socket when it reads the end, and would drop an answer it still
// holds. Only what the socket cannot take now is left to Qt, behind nothing.
void PrinterControl::save(QLocalSocket* socket) {
    socket->setProperty(Saving, true);
    socket->flush();
    const int answerFd = ::fcntl(int(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    save_([socket = QPointer<QLocalSocket>(socket), answerFd](const QString& failed) {
        const QByteArray answer =
            (failed.isEmpty() ? QStringLiteral("ok") : QStringLiteral("erro: ") + failed).toUtf8() +
            '\n';
        const bool open = socket && socket->state() == QLocalSocket::ConnectedState;
        ssize_t sent = 0;
        if (answerFd >= 0 && (!open || socket->bytesToWrite() == 0))
            sent = std::max<ssize_t>(0, ::send(answerFd, answer.constData(), size_t(answer.size()),
                                               MSG_NOSIGNAL | MSG_DONTWAIT));
        if (open) {
            socket->setProperty(Saving, false);
            if (sent < answer.size())
                socket->write(answer.mid(sent));
            QMetaObject::invokeMethod(socket.data(), &QLocalSocket::readyRead,
                                      Qt::QueuedConnection);
        }
        if (answerFd >= 0)
            ::close(answerFd);
    });
}

void PrinterControl::addState(const QString& key, std::function<QJsonValue()> part) {
    parts_.append({key, std::move(part)});
}

QByteArray PrinterControl::state() const {
    const VirtualPrinter& p = *printer_;
    const QJsonObject buffer{{QStringLiteral("fill"), p.bufferFill()},
                             {QStringLiteral("size"), p.bufferSize()},
                             {QStringLiteral("lost"), p.lostBytes()}};
    QJsonObject state{
        {QStringLiteral("model"), p.model() == PrinterModel::Compatible ? "compatible" : "dual"},
        {QStringLiteral("paper"), p.paperOut() ? "out" : "in"},
        {QStringLiteral("offline"), p.offline()},
        {QStringLiteral("ready"), p.ready()},
        {QStringLiteral("drawer"), p.drawerOpen()},
        {QStringLiteral("dump"), p.dumpMode()},
        {QStringLiteral("speed"), p.linesPerSecond()},
        {QStringLiteral("style"), styleName(p.style())},
        {QStringLiteral("columns"), p.columnsPerLine()},
        {QStringLiteral("page"), p.pageLines()},
        {QStringLiteral("sensor"), p.paperSensor()},
        {QStringLiteral("keyboard"), p.keyboard()},
        {QStringLiteral("rts"), p.rtsSignalling()},
        {QStringLiteral("buffer"), buffer},
    };
    for (const auto& [key, part] : parts_)
        state.insert(key, part());
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}
