#include "sim/serve/PtyServer.h"

#include "sim/printer/VirtualPrinter.h"
#include "sim/serve/TerminalLine.h"

#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qsizetype ReadChunk = 512;
// One turn of the event loop takes no more than this from the terminal, so
// timers, the control socket and signals wait for a few milliseconds at most.
constexpr qsizetype TurnBytes = 16 * 1024;
constexpr qint64 TurnMs = 10;
// What a program wrote before it closed the terminal is kept, up to this much
// and for as long as the terminal goes on passing it on.
constexpr qsizetype MaxClosedBytes = 1 << 20;
constexpr qint64 CloseSettleMs = 50;
const QString ClosedUnread = QStringLiteral("o computador fechou a porta sem lê-la(s)");
// What printing for this long frees is enough to take any waiting bytes.
constexpr qint64 PrintEverythingMs = 24 * 3600 * 1000;
// The terminal passes a write on to its input queue a moment after it was
// made; a count of that queue taken sooner may miss it.
constexpr qint64 SettleMs = 20;

} // namespace

PtyServer::PtyServer(VirtualPrinter* printer, const LineSettings& line, QObject* parent)
    : QObject(parent), printer_(printer), line_(line) {
    printer_->setReportsDelivery(true);
    connect(printer_, &VirtualPrinter::replied, this, &PtyServer::reply);
    connect(printer_, &VirtualPrinter::stateChanged, this, &PtyServer::followPrinter);
    lateReplies_.setSingleShot(true);
    moreClosed_.setSingleShot(true);
    connect(&moreClosed_, &QTimer::timeout, this, &PtyServer::readable);
    connect(&lateReplies_, &QTimer::timeout, this, &PtyServer::dropLateReplies);
    readSettled_.setSingleShot(true);
    connect(&readSettled_, &QTimer::timeout, this, &PtyServer::hostRead);
    clock_.start();
}

PtyServer::~PtyServer() {
    close();
}

void PtyServer::close() {
    if (!replies_.empty())
        dropUnread(QStringLiteral("a impressora parou"));
    readSettled_.stop();
    lateReplies_.stop();
    moreClosed_.stop();
    delete std::exchange(reader_, nullptr);
    delete std::exchange(writer_, nullptr);
    delete std::exchange(watcher_, nullptr);
    for (int* fd : {&watch_, &terminal_, &master_})
        if (*fd >= 0)
            ::close(std::exchange(*fd, -1));
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
    if (!setRaw(error))
        return false;
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

// Raw at the printer's own line, as a program finds the terminal when it opens it.
bool PtyServer::setRaw(QString* error) {
    if (!TerminalLine::setRaw(terminal_, line_)) {
        *error = QStringLiteral("termios: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

bool PtyServer::watchOpens(QString* error) {
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0 || ::inotify_add_watch(watch_, QFile::encodeName(path_).constData(),
                                          IN_OPEN | IN_CLOSE | IN_ACCESS) < 0) {
        *error = QStringLiteral("inotify: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    watcher_ = new QSocketNotifier(watch_, QSocketNotifier::Read);
    connect(watcher_, &QSocketNotifier::activated, this, &PtyServer::openedOrClosed);
    return true;
}

void PtyServer::openedOrClosed() {
    alignas(inotify_event) char buffer[4096];
    bool closed = false, reopened = false, read = false;
    for (ssize_t n; (n = ::read(watch_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            read = read || (event->mask & IN_ACCESS);
            if (event->mask & IN_OPEN) {
                if (openers_++ == 0)
                    printer_->logEvent(QStringLiteral("Terminal aberto"),
                                       QStringLiteral("port-open"));
                reopened = closed;
            } else if ((event->mask & IN_CLOSE) && openers_ > 0 && --openers_ == 0) {
                printer_->logEvent(QStringLiteral("Terminal fechado"),
                                   QStringLiteral("port-close"));
                closed = true;
                reopened = false;
            }
        }
    }
    if (read && !replies_.empty())
        hostRead();
    if (closed)
        lastClosed(reopened);
}

// The host has read from the terminal: the replies it has read have left.
void PtyServer::hostRead() {
    if (!forgetRead(false))
        readSettled_.start(int(SettleMs));
}

// The bytes the terminal holds were written before the close (or, when the
// next program opened it at once, also just after: they cannot be told
// apart). Exclusive mode and the line settings are put back unless a program
// has opened the terminal since, which may have set its own.
void PtyServer::lastClosed(bool reopened) {
    dropUnread(ClosedUnread);
    keepClosedBytes(reopened);
    mismatchSaid_.reset();
    if (!reopened) {
        QString error;
        if (::ioctl(terminal_, TIOCNXCL) != 0)
            error = QString::fromLocal8Bit(std::strerror(errno));
        else
            setRaw(&error);
        if (!error.isEmpty())
            printer_->logWarning(QStringLiteral("Terminal não reposto: %1").arg(error),
                                 QStringLiteral("terminal-reset-failed"));
    }
    readable();
}

// The terminal passes a write on a moment after it was made: it is read
// until it stays quiet for a moment, unless a program opens it meanwhile.
void PtyServer::keepClosedBytes(bool reopened) {
    QElapsedTimer clock;
    clock.start();
    char buffer[4096];
    while (closed_.size() < MaxClosedBytes) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            if (lineFits(n))
                closed_.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        pollfd p[2] = {{master_, POLLIN, 0}, {watch_, POLLIN, 0}};
        if (reopened || clock.elapsed() >= CloseSettleMs || ::poll(p, 2, 2) <= 0 ||
            (p[1].revents & POLLIN))
            return;
    }
}

// Takes no more than the buffer has room for; the rest waits in the terminal.
// Opens and closes are acted on first, so that the bytes a program wrote
// before its close are told from those of the next one.
void PtyServer::readable() {
    openedOrClosed();
    char buffer[ReadChunk];
    QElapsedTimer turn;
    turn.start();
    for (qsizetype taken = 0; taken < TurnBytes && turn.elapsed() < TurnMs;) {
        const qsizetype room = std::min<qsizetype>(printer_->room(), ReadChunk);
        if (room == 0) {
            reader_->setEnabled(false);
            return;
        }
        if (!closed_.isEmpty()) {
            taken += takeClosed(room);
            continue;
        }
        const ssize_t n = ::read(master_, buffer, size_t(room));
        if (n > 0) {
            taken += n;
            if (lineFits(n))
                take(QByteArray(buffer, n));
        } else if (n == 0 || errno != EINTR) {
            return; // EAGAIN: all read
        }
    }
    if (!closed_.isEmpty())
        moreClosed_.start(); // the terminal may have nothing new to wake us
}

void PtyServer::take(const QByteArray& bytes) {
    receiving_ = true;
    printer_->receive(bytes);
    receiving_ = false;
}

LineSettings PtyServer::clientLine() const {
    return TerminalLine::read(terminal_).value_or(line_);
}

// The bytes just read came at the settings the terminal has now: a program
// sets its port up before it writes.
bool PtyServer::lineFits(qsizetype bytes) {
    const LineSettings client = clientLine();
    if (client == TerminalLine::carried(line_))
        return true;
    noise_ += bytes;
    if (mismatchSaid_ != client) {
        mismatchSaid_ = client;
        warnLineMismatch(*printer_, client, line_);
    }
    return false;
}

// A closed program's bytes: what they ask for is answered to nobody.
qsizetype PtyServer::takeClosed(qsizetype room) {
    // They leave closed_ only once taken: a reply made meanwhile must find
    // them there, or it would go to the program that has opened it since.
    const QByteArray bytes = closed_.left(room);
    take(bytes);
    closed_.remove(0, bytes.size());
    if (closed_.isEmpty())
        dropUnread(ClosedUnread);
    return bytes.size();
}

// Printing has made room: the waiting bytes may come in again.
void PtyServer::followPrinter() {
    if (reader_ && !reader_->isEnabled() && printer_->room() > 0) {
        reader_->setEnabled(true);
        if (!closed_.isEmpty())
            moreClosed_.start();
    }
}

void PtyServer::takeWaitingBytes(qsizetype maxBytes, qint64 maxMs) {
    char buffer[ReadChunk];
    QElapsedTimer clock;
    clock.start();
    for (qsizetype taken = 0; taken < maxBytes && clock.elapsed() < maxMs;) {
        if (printer_->room() == 0)
            printer_->advance(PrintEverythingMs);
        const qsizetype room = std::min({qsizetype(printer_->room()), ReadChunk, maxBytes - taken});
        if (room == 0)
            return; // off-line or out of paper: nothing can print
        if (!closed_.isEmpty()) {
            taken += takeClosed(room);
            continue;
        }
        const ssize_t n = ::read(master_, buffer, size_t(room));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        if (lineFits(n))
            take(QByteArray(buffer, n));
        taken += n;
    }
}

// Only replies to this terminal's own bytes come here; those to the bytes
// of a program that has closed it wait to be dropped.
void PtyServer::reply(const QByteArray& bytes) {
    if (!receiving_)
        return;
    const qint64 deadline = clock_.elapsed() + replyTimeoutMs(bytes.size());
    replies_.push_back({bytes, 0, deadline});
    armTimer(deadline);
    writeReplies();
}

void PtyServer::writeReplies() {
    if (!closed_.isEmpty())
        return; // they are all to a closed program's requests
    for (; unsent_ < replies_.size(); ++unsent_) {
        Reply& reply = replies_[unsent_];
        while (reply.written < reply.bytes.size()) {
            const ssize_t n = ::write(master_, reply.bytes.constData() + reply.written,
                                      size_t(reply.bytes.size() - reply.written));
            if (n > 0) {
                reply.written += n;
                written_ += n;
                lastWrite_ = clock_.elapsed();
            } else if (n < 0 && errno == EAGAIN) {
                writer_->setEnabled(true);
                return;
            } else if (n < 0 && errno != EINTR) {
                return dropUnread(QStringLiteral("o terminal recusou a escrita (%1)")
                                      .arg(QString::fromLocal8Bit(std::strerror(errno))));
            }
        }
        reply.end = written_;
    }
    writer_->setEnabled(false);
}

// The timer runs to the earliest deadline.
void PtyServer::armTimer(qint64 deadline) {
    const qint64 due = std::clamp<qint64>(deadline - clock_.elapsed(), 0, 1 << 30);
    if (!lateReplies_.isActive() || due < lateReplies_.remainingTime())
        lateReplies_.start(int(due));
}

// What the host has read is what went into the terminal less what still
// waits in its input queue; a reply it has read wholly has left. Looking at
// an empty queue makes the terminal pass our writes on first; with bytes in
// it, a count soon after a write may miss that write and take a reply still
// unread for read: false, and nothing counted, unless unsettled.
bool PtyServer::forgetRead(bool unsettled) {
    pollfd passOn{terminal_, POLLIN, 0};
    ::poll(&passOn, 1, 0);
    int unread = 0;
    if (::ioctl(terminal_, FIONREAD, &unread) != 0)
        unread = 0;
    if (!unsettled && unread > 0 && clock_.elapsed() - lastWrite_ < SettleMs)
        return false;
    const qint64 read = written_ - unread;
    while (!replies_.empty() && replies_.front().end >= 0 && replies_.front().end <= read) {
        printer_->replyLeft(replies_.front().bytes);
        replies_.pop_front();
        unsent_ = unsent_ > 0 ? unsent_ - 1 : 0;
    }
    return true;
}

// A count put off once for the terminal to settle is taken as it stands
// the next time, so that a host that keeps the terminal busy cannot put the
// time-out off for good.
void PtyServer::dropLateReplies() {
    if (!forgetRead(std::exchange(lateCountPutOff_, false))) {
        lateCountPutOff_ = true;
        return lateReplies_.start(int(SettleMs));
    }
    const qint64 now = clock_.elapsed();
    if (std::any_of(replies_.begin(), replies_.end(),
                    [now](const Reply& reply) { return reply.deadline <= now; }))
        dropUnread(QStringLiteral("o computador não leu a porta dentro do tempo de escrita"));
    for (const Reply& reply : replies_)
        armTimer(reply.deadline);
}

void PtyServer::dropUnread(const QString& why) {
    forgetRead(true);
    ::tcflush(terminal_, TCIFLUSH);
    qsizetype bytes = 0;
    for (const Reply& reply : replies_)
        bytes += reply.bytes.size();
    if (!replies_.empty())
        printer_->logWarning(QStringLiteral("%1 resposta(s) descartada(s), %2 byte(s): %3")
                                 .arg(replies_.size())
                                 .arg(bytes)
                                 .arg(why),
                             QStringLiteral("reply-dropped"), int(replies_.size()));
    replies_.clear();
    unsent_ = 0;
    writer_->setEnabled(false);
    lateReplies_.stop();
    readSettled_.stop();
}
