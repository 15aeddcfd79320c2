#include "link/comport/lines/descriptor/DescriptorLine.h"

#include "link/comport/LineWaits.h"

#include <sys/epoll.h>
#include <unistd.h>
#include <utility>

DescriptorLine::DescriptorLine(int fd, int wakeFd, int pollFd, uint32_t lineEvents)
    : fd_(fd), wakeFd_(wakeFd), pollFd_(pollFd) {
    if (!ready())
        return;
    LineWaits::watch(pollFd_, wakeFd_, EPOLLIN);
    LineWaits::watch(pollFd_, fd_, lineEvents);
}

DescriptorLine::~DescriptorLine() {
    for (const int fd : {pollFd_, wakeFd_})
        if (fd >= 0)
            ::close(fd);
}

int DescriptorLine::SetupComm(int inputSize, int) {
    inputSize_ = inputSize > 0 ? inputSize : 1;
    return 0;
}

int DescriptorLine::SetCommTimeouts(const TCommTimeouts& timeouts) {
    timeouts_ = timeouts;
    return 0;
}

int DescriptorLine::Read(char* data, int count, int& read) {
    read = 0;
    if (hungUp_)
        return WinError::IoDevice;
    return LineWaits::readWithin(
        timeouts_, data, count, read,
        [this](char* at, int want, int& got) { return takeArrived(at, want, got); },
        [this](int ms) { return awaitInput(ms); });
}

int DescriptorLine::ReadWaiting(char* data, int count, int& read) {
    read = 0;
    if (hungUp_)
        return WinError::IoDevice;
    return takeWaiting(data, count, read);
}

int DescriptorLine::ClearError(TComErrors& errors, int& inputCount) {
    bool more = false;
    {
        std::lock_guard lock(stateMutex_);
        sampleErrorsLocked();
        errors = std::exchange(errors_, TComErrors());
        more = !pending_.Empty();
    }
    // Whatever else the look found is for the next wait to report.
    if (more)
        wake();
    return InputWaiting(inputCount);
}

TComEvents DescriptorLine::WaitEvents(TComEvents mask) {
    auto takeEvents = [this] {
        look();
        std::lock_guard lock(stateMutex_);
        sampleLocked();
        if (txEmptyDue_.exchange(false))
            pending_.Include(evTxEmpty);
        return std::exchange(pending_, TComEvents());
    };
    return LineWaits::waitEvents(cancel_, mask, takeEvents, [this] { waitForActivity(); });
}

void DescriptorLine::CancelWait() {
    cancel_ = true;
    wake();
}

void DescriptorLine::wake() {
    LineWaits::ring(wakeFd_);
}

void DescriptorLine::hangUp() {
    {
        std::lock_guard lock(stateMutex_);
        hangUpLocked();
    }
    wake();
}

void DescriptorLine::hangUpLocked() {
    if (hungUp_.exchange(true))
        return;
    errors_.Include(ceIO);
    pending_ |= TComEvents{evError, evCTS, evDSR, evRLSD};
}

int DescriptorLine::failed(int err) {
    if (WinError::DeviceGone(err))
        hangUp();
    return WinError::FromLineErrno(err);
}

void DescriptorLine::unwatchIfHungUp(std::initializer_list<int> fds) {
    if (!hungUp_ || unwatched_)
        return;
    for (const int fd : fds)
        epoll_ctl(pollFd_, EPOLL_CTL_DEL, fd, nullptr);
    unwatched_ = true;
}

void DescriptorLine::inputGrewLocked(qsizetype before, qsizetype after) {
    if (after <= before)
        return;
    pending_.Include(evRxChar);
    const int full = inputSize_ * 8 / 10;
    if (before < full && after >= full)
        pending_.Include(evRx80Full);
}
