#include "link/comport/TtyModemWatch.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <sys/ioctl.h>

namespace {
// A real-time signal the program uses for nothing else. Its handler does
// nothing: the signal is there only to make the blocked ioctl return EINTR.
int wakeSignal() {
    return SIGRTMIN + 4;
}

void installWakeHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: the interrupted wait must come back to the loop.
        action.sa_flags = 0;
        sigaction(wakeSignal(), &action, nullptr);
    });
}
} // namespace

TtyModemWatch::TtyModemWatch(int fd, std::function<void()> changed)
    : fd_(fd), changed_(std::move(changed)) {
    installWakeHandler();
    thread_ = std::thread([this] { run(); });
}

TtyModemWatch::~TtyModemWatch() {
    stop_ = true;
    std::unique_lock lock(mutex_);
    // A signal that lands between the check of stop_ and the ioctl is lost,
    // so it is sent again until the thread has gone.
    while (!done_) {
        pthread_kill(thread_.native_handle(), wakeSignal());
        exited_.wait_for(lock, std::chrono::milliseconds(1));
    }
    lock.unlock();
    thread_.join();
}

void TtyModemWatch::run() {
    const int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
    while (!stop_) {
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
