#include "link/comport/EventLoopWait.h"

#include "link/comport/LineWaits.h"
#include "link/comport/SerialLine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>

#include <memory>
#include <poll.h>
#include <vector>

namespace EventLoopWait {

namespace {
// The deadlines here are always finite: the wait gives up after 5 s.
using LineWaits::Clock;
using LineWaits::msUntil;

End polled(std::initializer_list<Watch> watches, Clock::time_point deadline,
           const std::function<bool()>& done) {
    std::vector<pollfd> fds;
    for (const Watch& w : watches)
        fds.push_back({w.fd, short(w.write ? POLLOUT : POLLIN), 0});
    while (!done()) {
        const int ms = msUntil(deadline);
        if (ms == 0)
            return End::TimedOut;
        poll(fds.data(), nfds_t(fds.size()), ms);
    }
    return End::Done;
}
} // namespace

End until(std::initializer_list<Watch> watches, Clock::time_point deadline,
          const std::function<bool()>& done, LineOpening* opening) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return polled(watches, deadline, done);
    if (opening && opening->Cancelled())
        return End::Cancelled;
    if (done())
        return End::Done;
    QEventLoop loop;
    End end = End::TimedOut;
    const auto check = [&] {
        if (done()) {
            end = End::Done;
            loop.quit();
        }
    };
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    for (const Watch& w : watches) {
        notifiers.push_back(std::make_unique<QSocketNotifier>(
            w.fd, w.write ? QSocketNotifier::Write : QSocketNotifier::Read));
        QObject::connect(notifiers.back().get(), &QSocketNotifier::activated, &loop, check);
    }
    QTimer timer;
    timer.setSingleShot(true);
    // A coarse timer may fire 5 % early: a write's time-out must not.
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(msUntil(deadline));
    if (opening)
        opening->onCancel = [&] {
            end = End::Cancelled;
            loop.quit();
        };
    loop.exec();
    if (opening)
        opening->onCancel = nullptr;
    return end;
}

End aside(std::function<void()> work, Clock::time_point deadline, LineOpening* opening) {
    struct Bell {
        const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        std::atomic<bool> done{false};
        ~Bell() {
            if (fd >= 0)
                ::close(fd);
        }
    };
    const auto bell = std::make_shared<Bell>();
    if (bell->fd < 0)
        return End::TimedOut;
    std::thread worker;
    try {
        worker = std::thread([bell, work = std::move(work)] {
            work();
            bell->done = true;
            LineWaits::ring(bell->fd);
        });
    } catch (const std::system_error&) {
        return End::TimedOut;
    }
    const End end = until(
        {{bell->fd}}, deadline, [&bell] { return bell->done.load(); }, opening);
    if (end == End::Done)
        worker.join();
    else
        worker.detach();
    return end;
}

} // namespace EventLoopWait
