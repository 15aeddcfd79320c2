#include "sim/PtyServer.h"

#include "sim/VirtualPrinter.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
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
    reader_ = new QSocketNotifier(master_, QSocketNotifier::Read);
    connect(reader_, &QSocketNotifier::activated, this, &PtyServer::readable);
    writer_ = new QSocketNotifier(master_, QSocketNotifier::Write);
    writer_->setEnabled(false);
    connect(writer_, &QSocketNotifier::activated, this, &PtyServer::writeReplies);
    return true;
}

// Takes no more than the buffer has room for; the rest waits in the terminal.
void PtyServer::readable() {
    char buffer[ReadChunk];
    for (;;) {
        const qsizetype room = std::min<qsizetype>(printer_->room(), ReadChunk);
        if (room == 0) {
            reader_->setEnabled(false);
            return;
        }
        const ssize_t n = ::read(master_, buffer, size_t(room));
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
    replies_.push_back({bytes, clock_.elapsed() + replyTimeoutMs(bytes.size())});
    writeReplies();
}

void PtyServer::writeReplies() {
    while (!replies_.empty()) {
        QByteArray& bytes = replies_.front().bytes;
        const ssize_t n = ::write(master_, bytes.constData(), size_t(bytes.size()));
        if (n > 0) {
            bytes.remove(0, n);
            if (bytes.isEmpty())
                replies_.pop_front();
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else if (n < 0 && errno != EINTR) {
            printer_->logWarning(QStringLiteral("Resposta não enviada: %1")
                                     .arg(QString::fromLocal8Bit(std::strerror(errno))));
            replies_.clear();
        }
    }
    writer_->setEnabled(!replies_.empty());
    if (replies_.empty())
        lateReplies_.stop();
    else if (!lateReplies_.isActive())
        lateReplies_.start(int(std::max<qint64>(0, replies_.front().deadline - clock_.elapsed())));
}

void PtyServer::dropLateReplies() {
    const qint64 now = clock_.elapsed();
    int count = 0;
    qsizetype bytes = 0;
    while (!replies_.empty() && replies_.front().deadline <= now) {
        ++count;
        bytes += replies_.front().bytes.size();
        replies_.pop_front();
    }
    if (count > 0)
        printer_->logWarning(
            QStringLiteral("%1 resposta(s) descartada(s), %2 byte(s): o computador não leu a "
                           "porta dentro do tempo de escrita")
                .arg(count)
                .arg(bytes));
    writeReplies();
}
