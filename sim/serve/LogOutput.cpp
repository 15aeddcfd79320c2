#include "sim/serve/LogOutput.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int FinishWaitMs = 500;

} // namespace

// A pipe or a terminal gets a descriptor of its own opened non-blocking, so
// the shell that shares standard output keeps its blocking one. A file never
// holds a writer up and is written as it is.
LogOutput::LogOutput(QObject* parent) : QObject(parent) {
    struct stat st {};
    if (::fstat(1, &st) != 0 || S_ISREG(st.st_mode))
        return;
    const int fd = ::open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_APPEND);
    if (fd >= 0) {
        fd_ = fd;
        ownFd_ = true;
    } else {
        ::fcntl(1, F_SETFL, ::fcntl(1, F_GETFL) | O_NONBLOCK); // a socket: only ours
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    notifier_->setEnabled(false);
    connect(notifier_, &QSocketNotifier::activated, this, &LogOutput::drain);
}

LogOutput::~LogOutput() {
    if (ownFd_)
        ::close(fd_);
}

void LogOutput::write(const QString& line) {
    if (closed_) {
        ++lost_;
        return;
    }
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    if (waiting_.size() + bytes.size() > MaxWaitingBytes) {
        ++lost_;
        return;
    }
    waiting_ += bytes;
    drain();
}

void LogOutput::drain() {
    if (lost_ > 0 && waiting_.isEmpty() && !closed_) {
        waiting_ = QStringLiteral("! %1 linha(s) do registro perdida(s): a saída não era lida\n")
                       .arg(lost_)
                       .toLocal8Bit();
        lostTotal_ += lost_;
        lost_ = 0;
    }
    while (!waiting_.isEmpty()) {
        const ssize_t n = ::write(fd_, waiting_.constData(), size_t(waiting_.size()));
        if (n > 0) {
            waiting_.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            closed();
            return;
        }
    }
    if (notifier_)
        notifier_->setEnabled(!waiting_.isEmpty() || lost_ > 0);
}

void LogOutput::closed() {
    closed_ = true;
    lost_ += waiting_.count('\n');
    waiting_.clear();
    if (notifier_)
        notifier_->setEnabled(false);
}

void LogOutput::finish() {
    QDeadlineTimer deadline(FinishWaitMs);
    drain();
    while (!closed_ && (!waiting_.isEmpty() || lost_ > 0) && !deadline.hasExpired()) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
            break;
        drain();
    }
    const qint64 unsaid = lost_ + waiting_.count('\n');
    if (unsaid > 0)
        std::fprintf(stderr,
                     "tellumo-printer: %lld log line(s) lost: standard output was not read\n",
                     static_cast<long long>(unsaid));
}
