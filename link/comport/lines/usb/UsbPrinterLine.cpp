#include "link/comport/lines/usb/UsbPrinterLine.h"

#include "link/comport/EventLoopWait.h"
#include "link/comport/LineWaits.h"

#include "link/printernode/PrinterNode.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {
using LineWaits::Clock;
using LineWaits::drainCounter;
using LineWaits::msUntil;
using LineWaits::ring;
using LineWaits::watch;

// How often the printer's status is read while the line is open: each read
// is a control transfer the printer answers.
constexpr long statusPeriodMs = 400;
// The input queue holds at most this much; the rest waits in the printer.
constexpr int inputLimit = 64 * 1024;
// How long the first status read may take: a control transfer the printer
// answers, or the driver gives up on after 5 s.
constexpr auto firstStatusTime = std::chrono::seconds(6);

// The printer's status read on a thread of its own, the event loop running
// meanwhile: a printer slow to answer holds no window. -1 with err set on
// failure, or when it took too long.
int firstStatus(int node, LineOpening* opening, int& err) {
    struct Answer {
        std::atomic<int> status{-1};
        std::atomic<int> err{ETIMEDOUT};
    };
    const auto answer = std::make_shared<Answer>();
    const int probe = ::fcntl(node, F_DUPFD_CLOEXEC, 0);
    if (probe < 0) {
        err = errno;
        return -1;
    }
    const auto end = EventLoopWait::aside(
        [answer, probe] {
            answer->status = PrinterNode::status(probe);
            answer->err = answer->status < 0 ? errno : 0;
            ::close(probe);
        },
        Clock::now() + firstStatusTime, opening);
    err = end == EventLoopWait::End::Done ? answer->err.load() : ETIMEDOUT;
    return end == EventLoopWait::End::Done ? answer->status.load() : -1;
}

} // namespace

bool UsbPrinterLine::isUsbPrinter(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode) &&
           PrinterNode::isUsbPrinter(st.st_rdev);
}

std::unique_ptr<SerialLine> UsbPrinterLine::open(const QString& device, int& winError,
                                                 LineOpening* opening) {
    Descriptors fds;
    fds.node =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fds.node < 0) {
        winError = WinError::FromErrno(errno);
        return nullptr;
    }
    struct stat st {};
    ::fstat(fds.node, &st);
    int err = 0;
    const int status = firstStatus(fds.node, opening, err);
    winError = opening && opening->Cancelled() ? WinError::OperationAborted
               : status >= 0                   ? 0
               : err == ETIMEDOUT              ? WinError::Timeout
                                               : WinError::InvalidFunction;
    if (!winError) {
        fds.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        fds.arrived = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        fds.tick = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
        fds.poll = epoll_create1(EPOLL_CLOEXEC);
        const itimerspec every{{0, statusPeriodMs * 1000000L}, {0, statusPeriodMs * 1000000L}};
        if (fds.wake < 0 || fds.arrived < 0 || fds.tick < 0 || fds.poll < 0 ||
            timerfd_settime(fds.tick, 0, &every, nullptr) != 0)
            winError = WinError::FromErrno(errno);
    }
    if (winError) {
        for (const int fd : {fds.node, fds.wake, fds.arrived, fds.tick, fds.poll})
            if (fd >= 0)
                ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SerialLine>(new UsbPrinterLine(fds, status, device, st.st_rdev));
}

// The node edge-triggered: a reply is announced once, however long it waits
// unread.
UsbPrinterLine::UsbPrinterLine(const Descriptors& fds, int status, const QString& device,
                               dev_t rdev)
    : DescriptorLine(fds.node, fds.wake, fds.poll, EPOLLIN | EPOLLET), fds_(fds),
      path_(QFile::encodeName(device)), rdev_(rdev), cts_(PrinterNode::ready(status)) {
    watch(pollFd_, fds_.tick, EPOLLIN);
}

UsbPrinterLine::~UsbPrinterLine() {
    for (const int fd : {fd_, fds_.tick, fds_.arrived})
        ::close(fd);
}

// A printer on USB has no line to set.
int UsbPrinterLine::SetCommState(const TDCB&) {
    return 0;
}

// Each write() hands the driver one block, which it passes to the printer;
// the next is refused until the printer has taken it. What the driver took
// counts as written, so that a sender sends again exactly what it did not.
int UsbPrinterLine::Write(const char* data, int count, int& written) {
    written = 0;
    if (hungUp_)
        return WinError::IoDevice;
    if (count <= 0)
        return 0;
    const auto deadline = TransferDeadlines::ForWrite(timeouts_, count, Clock::now()).Total();
    bool timedOut = false;
    while (written < count && !timedOut) {
        const ssize_t n = PrinterNode::offer(fd_, data + written, size_t(count - written));
        if (n < 0)
            return failed(errno);
        written += int(n);
        if (n == 0 && PrinterNode::waitTaken(fd_, msUntil(deadline)) < 0)
            return failed(EIO);
        timedOut = n == 0 && Clock::now() >= deadline;
    }
    // Sent: the printer has taken the last block, or the time is up.
    if (!timedOut && PrinterNode::waitTaken(fd_, msUntil(deadline)) < 0)
        return failed(EIO);
    // usblp completes the blocks it held when the printer is unplugged, as
    // if taken: a node gone meanwhile means they never reached it.
    if (unplugged(EIO))
        return failed(ENODEV);
    txEmptyDue_ = true;
    wake();
    return 0;
}

int UsbPrinterLine::pullLocked() {
    int moved = 0;
    char buffer[4096];
    while (input_.size() < inputLimit) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        // A printer with no way back (usblp refuses its reads) never replies.
        if (n < 0 && errno != EAGAIN && errno != EINVAL)
            return -1;
        // usblp reads 0 for an empty reply from the printer, not an end.
        if (n <= 0)
            break;
        input_.append(buffer, int(n));
        moved += int(n);
    }
    return moved;
}

int UsbPrinterLine::take(char* data, int count, int& got) {
    std::lock_guard lock(inputMutex_);
    if (input_.size() < count && pullLocked() < 0)
        return errno;
    got = int(std::min<qsizetype>(count, input_.size()));
    std::copy_n(input_.constData(), got, data);
    input_.remove(0, got);
    return 0;
}

int UsbPrinterLine::takeArrived(char* data, int count, int& got) {
    drainCounter(fds_.arrived);
    const int err = take(data, count, got);
    return err ? failed(err) : 0;
}

// The reply comes through the node, or the event thread queued it.
int UsbPrinterLine::awaitInput(int ms) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {fds_.arrived, POLLIN, 0}};
    if (::poll(p, 2, ms) < 0 && errno != EINTR)
        return failed(errno);
    return p[0].revents & (POLLHUP | POLLERR | POLLNVAL) ? failed(EIO) : 0;
}

int UsbPrinterLine::takeWaiting(char* data, int count, int& read) {
    const int err = take(data, count, read);
    return err ? failed(err) : 0;
}

int UsbPrinterLine::InputWaiting(int& count) {
    count = 0;
    if (hungUp_)
        return 0;
    int err = 0;
    {
        std::lock_guard lock(inputMutex_);
        if (pullLocked() < 0)
            err = errno;
        count = int(input_.size());
    }
    // A device gone is a hang-up, reported as such, not a failed query.
    if (WinError::DeviceGone(err))
        hangUp();
    return err && !WinError::DeviceGone(err) ? WinError::FromErrno(err) : 0;
}

// Nothing waits on this side to be sent; what the printer has not read yet
// is its own. Input is dropped here and in the driver.
int UsbPrinterLine::Purge(bool, bool input) {
    if (hungUp_ || !input)
        return 0;
    std::lock_guard lock(inputMutex_);
    input_.clear();
    pullLocked();
    input_.clear();
    return 0;
}

int UsbPrinterLine::ModemStatus(TComSignals& lines) {
    lines = {};
    if (hungUp_)
        return 0;
    lines = cts_ ? TComSignals{csCTS, csDSR, csRLSD} : TComSignals{csDSR, csRLSD};
    return 0;
}

// Sleeps until a wake-up, the status timer or the node; a line that hung up
// leaves only the wake-up in the set.
void UsbPrinterLine::waitForActivity() {
    unwatchIfHungUp({fd_, fds_.tick});
    epoll_event ready[3] = {};
    const int n = epoll_wait(pollFd_, ready, 3, -1);
    if (n < 0 && errno != EINTR) {
        hangUp();
        return;
    }
    for (int i = 0; i < n && !hungUp_; ++i) {
        if (ready[i].data.fd == wakeFd_) {
            drainCounter(wakeFd_);
        } else if (ready[i].data.fd == fds_.tick) {
            drainCounter(fds_.tick);
            readStatus();
        } else if (ready[i].events & (EPOLLHUP | EPOLLERR)) {
            hangUp();
        } else {
            readInput();
        }
    }
}

// usblp answers ENODEV once the printer is unplugged; EIO may be a control
// transfer the printer failed while it is still there, and is an unplug
// only when its node has gone (or is another device's now).
bool UsbPrinterLine::unplugged(int err) const {
    if (!WinError::DeviceGone(err))
        return false;
    if (err != EIO)
        return true;
    struct stat st {};
    return ::stat(path_.constData(), &st) != 0 || st.st_rdev != rdev_;
}

void UsbPrinterLine::readStatus() {
    const int status = PrinterNode::status(fd_);
    if (status < 0) {
        if (unplugged(errno))
            hangUp();
        return;
    }
    if (cts_.exchange(PrinterNode::ready(status)) != PrinterNode::ready(status)) {
        std::lock_guard lock(stateMutex_);
        pending_.Include(evCTS);
    }
}

// Queues what arrived, so that the count of waiting bytes is known, and
// tells a read waiting for it.
void UsbPrinterLine::readInput() {
    int before = 0, after = 0, moved = 0, err = 0;
    {
        std::lock_guard lock(inputMutex_);
        before = int(input_.size());
        moved = pullLocked();
        err = moved < 0 ? errno : 0;
        after = int(input_.size());
    }
    if (moved < 0) {
        if (unplugged(err))
            hangUp();
        return;
    }
    if (moved == 0)
        return;
    ring(fds_.arrived);
    std::lock_guard lock(stateMutex_);
    inputGrewLocked(before, after);
}
