#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Waits for modem-line changes (CTS, DSR, RLSD, ring) with TIOCMIWAIT on a
// thread of its own, so that the port's event thread need not look at the
// lines on a tick. The ioctl blocks and no descriptor can wake it: the
// destructor ends it with a signal aimed at that thread, and returns as soon
// as the thread has left the ioctl.
class TtyModemWatch {
public:
    // changed runs on the watch's thread after each change, and once more
    // when the watch gives up (a driver without the wait, or a line that
    // hung up).
    TtyModemWatch(int fd, std::function<void()> changed);
    ~TtyModemWatch();
    TtyModemWatch(const TtyModemWatch&) = delete;
    TtyModemWatch& operator=(const TtyModemWatch&) = delete;

    // False once the watch has given up; the lines must then be looked at.
    bool Watching() const { return watching_.load(); }

    // Starts the wait again, once the line settings have changed: the 8250
    // driver switches the modem-status interrupt the wait turned on off
    // again when its settings change (unless CTS flow control or modem
    // control need it), and only a new wait turns it back on. Returns once
    // the watch is about to wait anew.
    void Rearm();

private:
    void run();

    const int fd_;
    const std::function<void()> changed_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> watching_{true};
    std::mutex mutex_;
    std::condition_variable exited_;
    bool done_ = false;
    // Rearm requests made, and the last one the watch's current wait began after.
    quint64 rearms_ = 0;
    quint64 entered_ = 0;
    std::thread thread_;
};
