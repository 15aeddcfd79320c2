#include "sim/PtyServer.h"

#include "sim/VirtualPrinter.h"

#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qsizetype ReadChunk = 512;
// What printing for this long frees is enough to take any waiting bytes.
constexpr qint64 PrintEverythingMs = 24 * 3600 * 1000;

} // namespace

PtyServer::PtyServer(VirtualPrinter* printer, QObject* parent)
    : QObject(parent), printer_(printer) {
    connect(printer_, &VirtualPrinter::replied, this, &PtyServer::reply);
    connect(printer_, &VirtualPrinter::stateChanged, this, &PtyServer::followPrinter);
    lateReplies_.setSingleShot(true);
    connect(&lateReplies_, &QTimer::timeout, this, &PtyServer::dropLateReplies);
    clock_.start();
}

PtyServer::~PtyServer() {
    delete reader_;
    delete writer_;
    delete watcher_;
    if (watch_ >= 0)
        ::close(watch_);
    if (terminal_ >= 0)
        ::close(terminal_);
    if (master_ >= 0)
        ::close(master_);
}

bool PtyServer::open(QString* error) {
    const auto fail = [&](const char* what) {
        *error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                              QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return fail("posix_openpt");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return fail("grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0)
        return fail("ptsname");
    path_ = QString::fromLocal8Bit(name);
    terminal_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal_ < 0)
        return fail("open terminal");
    termios raw{};
    if (::tcgetattr(terminal_, &raw) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    if (::tcsetattr(terminal_, TCSANOW, &raw) != 0)
        return fail("tcsetattr");
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (!watchOpens(error))
        return false;
    reader_ = new QSocketNotifier(master_, QSocketNotifier::Read);
    connect(reader_, &QSocketNotifier::activated, this, &PtyServer::readable);
    writer_ = new QSocketNotifier(master_, QSocketNotifier::Write);
    writer_->setEnabled(false);
    connect(writer_, &QSocketNotifier::activated, this, &PtyServer::writeReplies);
    return true;
}

bool PtyServer::watchOpens(QString* error) {
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0 ||
        ::inotify_add_watch(watch_, QFile::encodeName(path_).constData(), IN_OPEN | IN_CLOSE) < 0) {
        *error = QStringLiteral("inotify: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    watcher_ = new QSocketNotifier(watch_, QSocketNotifier::Read);
    connect(watcher_, &QSocketNotifier::activated, this, &PtyServer::openedOrClosed);
    return true;
}

void PtyServer::openedOrClosed() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(watch_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_OPEN) {
                if (openers_++ == 0)
                    printer_->logEvent(QStringLiteral("Terminal aberto"),
                                       QStringLiteral("port-open"));
            } else if ((event->mask & IN_CLOSE) && openers_ > 0 && --openers_ == 0) {
                printer_->logEvent(QStringLiteral("Terminal fechado"),
                                   QStringLiteral("port-close"));
                dropUnread(QStringLiteral("o computador fechou a porta sem lê-la(s)"));
            }
        }
    }
}

// Takes no more than the buffer has room for; the rest waits in the terminal.
// Opens and closes seen by the time bytes were read are acted on before the
// bytes, so a close's drop can never take the replies to a later program's
// requests.
void PtyServer::readable() {
    char buffer[ReadChunk];
    for (;;) {
        const qsizetype room = std::min<qsizetype>(printer_->room(), ReadChunk);
        if (room == 0) {
            reader_->setEnabled(false);
            return;
        }
        const ssize_t n = ::read(master_, buffer, size_t(room));
        openedOrClosed();
        if (n > 0) {
            printer_->receive(QByteArray(buffer, static_cast<int>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return; // EAGAIN: all read
    }
}

// Printing has made room: the waiting bytes may come in again.
void PtyServer::followPrinter() {
    if (reader_ && !reader_->isEnabled() && printer_->room() > 0)
        reader_->setEnabled(true);
}

void PtyServer::takeWaitingBytes(qsizetype maxBytes) {
    char buffer[ReadChunk];
    for (qsizetype taken = 0; taken < maxBytes;) {
        if (printer_->room() == 0)
            printer_->advance(PrintEverythingMs);
        const qsizetype room = std::min({qsizetype(printer_->room()), ReadChunk, maxBytes - taken});
        if (room == 0)
            return; // off-line or out of paper: nothing can print
        const ssize_t n = ::read(master_, buffer, size_t(room));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        printer_->receive(QByteArray(buffer, static_cast<int>(n)));
        taken += n;
    }
}

void PtyServer::reply(const QByteArray& bytes) {
    replies_.push_back({bytes, bytes.size(), clock_.elapsed() + replyTimeoutMs(bytes.size())});
    writeReplies();
}

void PtyServer::writeReplies() {
    bool failed = false;
    for (Reply& reply : replies_) {
        while (!reply.bytes.isEmpty()) {
            const ssize_t n = ::write(master_, reply.bytes.constData(), size_t(reply.bytes.size()));
            if (n > 0) {
                reply.bytes.remove(0, n);
                written_ += n;
            } else if (n < 0 && errno == EAGAIN) {
                writer_->setEnabled(true);
                armTimer();
                return;
            } else if (n < 0 && errno != EINTR) {
                printer_->logWarning(QStringLiteral("Resposta não enviada: %1")
                                         .arg(QString::fromLocal8Bit(std::strerror(errno))),
                                     QStringLiteral("reply-failed"));
                failed = true;
                break;
            }
        }
        if (failed)
            break;
        if (reply.end < 0)
            reply.end = written_;
    }
    if (failed)
        replies_.clear();
    writer_->setEnabled(false);
    armTimer();
}

void PtyServer::armTimer() {
    if (replies_.empty()) {
        lateReplies_.stop();
        return;
    }
    qint64 first = replies_.front().deadline;
    for (const Reply& reply : replies_)
        first = std::min(first, reply.deadline);
    lateReplies_.start(int(std::clamp<qint64>(first - clock_.elapsed(), 0, 1 << 30)));
}

// What the host has read is what went into the terminal less what still
// waits in its input queue.
// What the host has read is what went into the terminal less what still
// waits in its input queue.
void PtyServer::forgetRead() {
    int unread = 0;
    if (::ioctl(terminal_, FIONREAD, &unread) != 0)
        unread = 0;
    const qint64 read = written_ - unread;
    while (!replies_.empty() && replies_.front().end >= 0 && replies_.front().end <= read)
        replies_.pop_front();
}

void PtyServer::dropLateReplies() {
    forgetRead();
    const qint64 now = clock_.elapsed();
    if (std::any_of(replies_.begin(), replies_.end(),
                    [now](const Reply& reply) { return reply.deadline <= now; }))
        dropUnread(QStringLiteral("o computador não leu a porta dentro do tempo de escrita"));
    armTimer();
}

void PtyServer::dropUnread(const QString& why) {
    forgetRead();
    ::tcflush(terminal_, TCIFLUSH);
    qsizetype bytes = 0;
    for (const Reply& reply : replies_)
        bytes += reply.size;
    if (!replies_.empty())
        printer_->logWarning(QStringLiteral("%1 resposta(s) descartada(s), %2 byte(s): %3")
                                 .arg(replies_.size())
                                 .arg(bytes)
                                 .arg(why),
                             QStringLiteral("reply-dropped"), int(replies_.size()));
    replies_.clear();
    writer_->setEnabled(false);
    lateReplies_.stop();
}
