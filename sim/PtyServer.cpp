#include "sim/PtyServer.h"

#include "sim/VirtualPrinter.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyServer::PtyServer(VirtualPrinter* printer, QObject* parent)
    : QObject(parent), printer_(printer) {
    connect(printer_, &VirtualPrinter::replied, this, &PtyServer::reply);
}

PtyServer::~PtyServer() {
    delete notifier_;
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
    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read);
    connect(notifier_, &QSocketNotifier::activated, this, &PtyServer::readable);
    return true;
}

void PtyServer::readable() {
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            printer_->receive(QByteArray(buffer, static_cast<int>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return; // EAGAIN: all read
    }
}

void PtyServer::reply(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            printer_->logEvent(QStringLiteral("Resposta não enviada: %1")
                                   .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
    }
}
