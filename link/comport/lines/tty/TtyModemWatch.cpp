#include "link/comport/lines/tty/TtyModemWatch.h"

#include "link/comport/lines/tty/TtyInterrupt.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <sys/ioctl.h>

TtyModemWatch::TtyModemWatch(int fd, std::function<void()> changed)
    : fd_(fd), changed_(std::move(changed)) {
    TtyInterrupt::signal();
    thread_ = std::thread([this] { run(); });
}

TtyModemWatch::~TtyModemWatch() {
    stop_ = true;
    std::unique_lock lock(mutex_);
    // A signal that lands between the check of stop_ and the ioctl is lost,
    // so it is sent again until the thread has gone.
    while (!done_) {
        pthread_kill(thread_.native_handle(), TtyInterrupt::signal());
        exited_.wait_for(lock, std::chrono::milliseconds(1));
    }
    lock.unlock();
    thread_.join();
}

void TtyModemWatch::Rearm() {
    std::unique_lock lock(mutex_);
    const quint64 wanted = ++rearms_;
    // As in the destructor, a signal that lands before the ioctl is lost.
    while (!done_ && entered_ < wanted) {
        pthread_kill(thread_.native_handle(), TtyInterrupt::signal());
        exited_.wait_for(lock, std::chrono::milliseconds(1));
    }
}

void TtyModemWatch::run() {
    const int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
    while (!stop_) {
        {
            std::lock_guard lock(mutex_);
            entered_ = rearms_;
        }
        exited_.notify_all();
        if (ioctl(fd_, TIOCMIWAIT, lines) == 0) {
            changed_();
            continue;
        }
        if (errno == EINTR)
            continue;
        watching_ = false;
        changed_();
        break;
    }
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    exited_.notify_all();
}
