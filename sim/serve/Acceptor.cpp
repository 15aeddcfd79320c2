#include "sim/serve/Acceptor.h"

#include <cerrno>
#include <sys/socket.h>

Acceptor::Acceptor(int listener, std::function<void(int)> take, std::function<void(int)> failed,
                   QObject* parent)
    : QObject(parent), listener_(listener), take_(std::move(take)), failed_(std::move(failed)),
      notifier_(listener, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, &Acceptor::acceptWaiting);
    resume_.setSingleShot(true);
    resume_.setInterval(PauseMs);
    connect(&resume_, &QTimer::timeout, this, [this] { notifier_.setEnabled(enabled_); });
}

void Acceptor::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (!resume_.isActive())
        notifier_.setEnabled(enabled);
}

void Acceptor::acceptWaiting() {
    while (enabled_) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            failing_ = false;
            take_(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // EMFILE, ENFILE, ENOBUFS, ENOMEM: nothing to do but wait.
        const int error = errno;
        notifier_.setEnabled(false);
        resume_.start();
        if (!std::exchange(failing_, true))
            failed_(error);
        return;
    }
}
