#include "link/comport/lines/tty/TtyInterrupt.h"

#include <csignal>
#include <ctime>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace TtyInterrupt {

int signal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: the interrupted call must come back.
        action.sa_flags = 0;
        sigaction(SIGRTMIN + 4, &action, nullptr);
    });
    return SIGRTMIN + 4;
}

// The last close waits, interruptibly, up to the port's closing_wait (30 s by
// default) for the driver to send what it holds. Flushing does not reach
// what a USB driver has handed to the adapter, and setting closing_wait to
// none takes CAP_SYS_ADMIN, so the wait is cut short instead: a timer aimed
// at this thread signals it until the close returns, which also covers a
// signal that lands just before the wait begins.
void closeWithin(int fd, std::chrono::milliseconds grace) {
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = signal();
    event._sigev_un._tid = pid_t(::syscall(SYS_gettid));
    timer_t timer{};
    if (timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) {
        ::close(fd);
        return;
    }
    const auto ms = grace.count();
    itimerspec when{};
    when.it_value = {time_t(ms / 1000), long(ms % 1000) * 1000000L};
    when.it_interval = {0, 20 * 1000000L};
    timer_settime(timer, 0, &when, nullptr);
    ::close(fd);
    timer_delete(timer);
}

} // namespace TtyInterrupt
