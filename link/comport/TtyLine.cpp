#include "link/comport/TtyLine.h"

#include "link/comport/TtyModemWatch.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

// A write waits for its bytes to leave in steps of the time they take on
// the line, never shorter than this.
constexpr auto drainStep = std::chrono::microseconds(500);
// Modem lines whose driver cannot wait for a change are looked at this
// often: CTS is the printer's ready line.
constexpr int modemTickMs = 20;
// What nothing can wake on (breaks and line errors, seen only in the
// driver's counters; more input while unread input waits) is looked at
// this often.
constexpr int slowTickMs = 250;

// The milliseconds poll() should wait to reach a deadline: -1 for none,
// rounded up so that a wake-up never comes before it. The deadline is
// compared before any arithmetic, as it may be the clock's minimum.
int msUntil(Clock::time_point until) {
    if (until == Clock::time_point::max())
        return -1;
    const auto now = Clock::now();
    if (until <= now)
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return ms > 1 << 30 ? 1 << 30 : int(ms);
}

bool standardSpeed(int baud, speed_t& code) {
    static const struct {
        int baud;
        speed_t code;
    } table[] = {{110, B110},       {300, B300},      {600, B600},       {1200, B1200},
                 {2400, B2400},     {4800, B4800},    {9600, B9600},     {19200, B19200},
                 {38400, B38400},   {57600, B57600},  {115200, B115200}, {230400, B230400},
                 {460800, B460800}, {921600, B921600}};
    for (const auto& row : table)
        if (row.baud == baud) {
            code = row.code;
            return true;
        }
    return false;
}

// Drivers without an ioctl answer ENOTTY, some EINVAL.
bool notOffered(int err) {
    return err == ENOTTY || err == EINVAL || err == ENOSYS;
}

// A serial device node with no UART behind it (/dev/ttyS3 on a machine with
// two ports) answers EIO: to the operator that is a port that is not there.
int openError(int err) {
    return err == EIO ? WinError::FileNotFound : WinError::FromErrno(err);
}

// Every flag of the four flag words comes from the settings, so nothing
// another program left on the tty (echo, CR/LF mapping, XOFF on input, ...)
// survives. Returns false for settings no UART has.
bool setFlags(const TDCB& dcb, termios& t) {
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2 ||
        int(dcb.BaudRate) <= 0)
        return false;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    static const tcflag_t parities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                        PARENB | CMSPAR};
    // Breaks are seen in the driver's counters; as characters they would
    // put NULs among the printer's replies.
    t.c_iflag = IGNBRK;
    if (dcb.Flags & TDCB::fParity)
        t.c_iflag |= INPCK;
    if (dcb.Flags & TDCB::fOutX)
        t.c_iflag |= IXON;
    if (dcb.Flags & TDCB::fInX)
        t.c_iflag |= IXOFF;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CREAD | CLOCAL | sizes[dcb.ByteSize - 5] | parities[dcb.Parity];
    // 1.5 stop bits exist only with 5 data bits, where the UART gives 1.5
    // for the two-stop-bit setting.
    if (dcb.StopBits != 0)
        t.c_cflag |= CSTOPB;
    // Hardware output flow control: the driver holds every byte while CTS is
    // off. Linux couples it with RTS input flow control.
    if (dcb.Flags & TDCB::fOutxCtsFlow)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VSTART] = cc_t(dcb.XonChar);
    t.c_cc[VSTOP] = cc_t(dcb.XoffChar);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return true;
}

// Whether the driver kept what it was given; a driver may quietly refuse
// part of it. The rate is checked apart, as a custom rate reads back as a
// code of its own.
bool sameFlags(const termios& set, const termios& got) {
    const tcflag_t rate = CBAUD | CIBAUD;
    return got.c_iflag == set.c_iflag && got.c_oflag == set.c_oflag && got.c_lflag == set.c_lflag &&
           (got.c_cflag & ~rate) == (set.c_cflag & ~rate) && got.c_cc[VMIN] == 0 &&
           got.c_cc[VTIME] == 0;
}
} // namespace

std::unique_ptr<SerialLine> TtyLine::open(const QString& device, int& winError) {
    const QByteArray path = device.toLocal8Bit();
    // Only a device node is opened: opening a FIFO or some other file could
    // act on it before the checks below refuse it.
    struct stat node {};
    if (::stat(path.constData(), &node) == 0 && !S_ISCHR(node.st_mode)) {
        winError = WinError::InvalidFunction;
        return nullptr;
    }
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        winError = openError(errno);
        return nullptr;
    }
    auto fail = [&](int error) -> std::unique_ptr<SerialLine> {
        ::close(fd);
        winError = error;
        return nullptr;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return fail(WinError::InvalidFunction);
    // A node without a UART opens, and then fails even the tty check.
    if (!isatty(fd))
        return fail(errno == EIO ? openError(EIO) : WinError::InvalidFunction);
    // Two locks, as programs on Linux use either: an advisory lock for those
    // that honour it, and the tty's own exclusive mode for the rest.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? WinError::AccessDenied : WinError::FromErrno(errno));
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return fail(WinError::AccessDenied);
    if (ioctl(fd, TIOCEXCL) != 0 && !notOffered(errno))
        return fail(WinError::FromErrno(errno));
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0)
        return fail(WinError::FromErrno(errno));
    std::unique_ptr<TtyLine> line(new TtyLine(fd, wakeFd));
    // Opening raised DTR and RTS; the printer must not see them until the
    // flow control settings say so.
    line->setModemLine(TIOCM_DTR | TIOCM_RTS, false);
    return line;
}

TtyLine::TtyLine(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {
    std::lock_guard lock(sampleMutex_);
    // The baselines, so that the first look reports changes only.
    sampleLocked();
    pending_ = {};
    errors_ = {};
}

TtyLine::~TtyLine() {
    // First, as its ioctl keeps the tty open, and so locked.
    modemWatch_.reset();
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    ::close(wakeFd_);
}

bool TtyLine::unsupported(Feature f, int err) {
    if (!notOffered(err))
        return false;
    features_ &= ~int(f);
    return true;
}

void TtyLine::setModemLine(int bits, bool on) {
    if (!has(ModemControl) || bits == 0)
        return;
    if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0)
        unsupported(ModemControl, errno);
}

void TtyLine::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
}

void TtyLine::CancelWait() {
    cancel_ = true;
    wake();
}

void TtyLine::hangUp() {
    {
        std::lock_guard lock(sampleMutex_);
        hangUpLocked();
    }
    wake();
}

void TtyLine::hangUpLocked() {
    if (hungUp_.exchange(true))
        return;
    // Reported once: the error, and the lines going off with the device.
    errors_.Include(ceIO);
    pending_ |= TComEvents{evError, evCTS, evDSR, evRLSD};
}

int TtyLine::failed(int err) {
    if (err == EIO)
        hangUp();
    return WinError::FromErrno(err);
}

int TtyLine::SetupComm(int inputSize, int) {
    // The kernel sizes its own queues; the input size still sets the mark
    // at which the queue counts as 80 % full.
    inputSize_ = inputSize > 0 ? inputSize : 1;
    return 0;
}

int TtyLine::SetCommState(const TDCB& dcb) {
    if (const int error = applyTermios(dcb))
        return error;
    applyModemControl(dcb);
    byteTimeNs_ = int64_t(10'000'000'000LL / dcb.BaudRate);
    discardNull_ = (dcb.Flags & TDCB::fNull) != 0;
    return 0;
}

int TtyLine::applyTermios(const TDCB& dcb) {
    // Read first only for what is no setting: the line discipline and the
    // special characters raw mode ignores.
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return failed(errno);
    if (!setFlags(dcb, t))
        return WinError::InvalidParameter;
    const int baud = int(dcb.BaudRate);
    speed_t code = B38400;
    const bool standard = standardSpeed(baud, code);
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    if (tcsetattr(fd_, TCSANOW, &t) != 0)
        return failed(errno);
    if (!standard)
        if (const int err = TtyBaud::setRate(fd_, baud))
            return failed(err);
    termios r{};
    if (tcgetattr(fd_, &r) != 0)
        return failed(errno);
    int actual = 0;
    const bool rateKept =
        TtyBaud::getRate(fd_, actual) == 0 && std::abs(actual - baud) * 100 <= baud * 3;
    return sameFlags(t, r) && rateKept ? 0 : WinError::InvalidParameter;
}

void TtyLine::applyModemControl(const TDCB& dcb) {
    const TDTRFlowControl dtr = dcb.DtrControl();
    const TRTSFlowControl rts = dcb.RtsControl();
    rtsToggle_ = rts == rtsToggle;
    int on = 0, off = 0;
    (dtr == dtrDisable ? off : on) |= TIOCM_DTR;
    ((rts == rtsEnable || rts == rtsHandshake) ? on : off) |= TIOCM_RTS;
    setModemLine(on, true);
    setModemLine(off, false);
}

int TtyLine::SetCommTimeouts(const TCommTimeouts& timeouts) {
    timeouts_ = timeouts;
    return 0;
}

int TtyLine::outputQueue(int& count) {
    count = 0;
    if (!has(QueueCounts))
        return 0;
    if (ioctl(fd_, TIOCOUTQ, &count) == 0)
        return 0;
    const int err = errno;
    if (unsupported(QueueCounts, err))
        return 0;
    return err;
}

bool TtyLine::transmitterEmpty() {
    if (!has(LineStatus))
        return true;
    unsigned int lsr = 0;
    if (ioctl(fd_, TIOCSERGETLSR, &lsr) == 0)
        return (lsr & TIOCSER_TEMT) != 0;
    unsupported(LineStatus, errno);
    return true;
}

int TtyLine::Write(const char* data, int count, int& written) {
    written = 0;
    if (hungUp_)
        return WinError::IoDevice;
    if (count <= 0)
        return 0;
    const auto deadlines = TransferDeadlines::ForWrite(timeouts_, count, Clock::now());
    if (rtsToggle_)
        setModemLine(TIOCM_RTS, true);
    int accepted = 0, queued = 0;
    int err = pushOut(data, count, deadlines, accepted);
    if (!err)
        err = drain(deadlines, queued);
    if (rtsToggle_)
        setModemLine(TIOCM_RTS, false);
    if (err)
        return failed(err);
    // Every write that ends reports the transmitter empty, also one the
    // kernel took nothing of (flow control held it all): a sender waits for
    // that report before its next block.
    txEmptyDue_ = true;
    wake();
    written = accepted - queued;
    return 0;
}

// Hands the bytes to the driver until all are taken or the time is up; an
// errno on failure.
int TtyLine::pushOut(const char* data, int count, const TransferDeadlines& deadlines,
                     int& accepted) {
    accepted = 0;
    while (accepted < count) {
        const ssize_t n = ::write(fd_, data + accepted, size_t(count - accepted));
        if (n > 0) {
            accepted += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        const int ms = msUntil(deadlines.Total());
        if (ms == 0)
            return 0;
        pollfd p{fd_, POLLOUT, 0};
        const int ready = poll(&p, 1, ms);
        if (ready == 0)
            return 0;
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return EIO;
    }
    return 0;
}

// Waits until the bytes have left the driver and the UART, or the time is
// up; queued says how many had not. The wait is on this thread, in steps of
// the line time of what is queued.
int TtyLine::drain(const TransferDeadlines& deadlines, int& queued) {
    for (;;) {
        if (const int err = outputQueue(queued))
            return err;
        if (queued == 0 && transmitterEmpty())
            return 0;
        const auto now = Clock::now();
        if (now >= deadlines.Total()) {
            // Time is up: what has not left is dropped, as the port's
            // write time-out ends a transfer.
            tcflush(fd_, TCOFLUSH);
            return 0;
        }
        const auto estimate =
            std::chrono::nanoseconds(std::max<int64_t>(queued, 1) * byteTimeNs_.load());
        std::this_thread::sleep_until(
            std::min(deadlines.Total(), now + std::max<Clock::duration>(estimate, drainStep)));
    }
}

// An errno on failure. Reading nothing is no failure: with VMIN and VTIME
// at zero a live tty returns 0 while its queue is empty.
int TtyLine::readSome(char* data, int count, int& got) {
    got = 0;
    for (;;) {
        const ssize_t n = ::read(fd_, data, size_t(count));
        if (n > 0) {
            got = int(n);
            if (discardNull_) {
                char* end = std::remove(data, data + got, '\0');
                got = int(end - data);
            }
            return 0;
        }
        if (n == 0 || errno == EAGAIN)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

int TtyLine::Read(char* data, int count, int& read) {
    read = 0;
    if (hungUp_)
        return WinError::IoDevice;
    const auto start = Clock::now();
    const auto deadlines = TransferDeadlines::ForRead(timeouts_, count, start);
    auto last = start;
    while (read < count) {
        int got = 0;
        if (const int err = readSome(data + read, count - read, got))
            return failed(err);
        if (got > 0) {
            read += got;
            last = Clock::now();
            continue;
        }
        const int ms = msUntil(deadlines.ReadUntil(read, last));
        if (ms == 0)
            break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, ms) < 0 && errno != EINTR)
            return failed(errno);
        // A line that hung up reads as empty for ever, and poll() says so
        // at once: that is the read's error, not the end of its wait.
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            return failed(EIO);
    }
    return 0;
}

int TtyLine::ReadWaiting(char* data, int count, int& read) {
    read = 0;
    if (hungUp_)
        return WinError::IoDevice;
    while (read < count) {
        int got = 0;
        if (const int err = readSome(data + read, count - read, got))
            return failed(err);
        if (got == 0)
            break;
        read += got;
    }
    return 0;
}

int TtyLine::Purge(bool output, bool input) {
    // A line that has hung up has nothing left to abort.
    if (hungUp_ || (!output && !input))
        return 0;
    const int which = output && input ? TCIOFLUSH : output ? TCOFLUSH : TCIFLUSH;
    if (tcflush(fd_, which) != 0) {
        if (errno == EIO) {
            hangUp();
            return 0;
        }
        return WinError::FromErrno(errno);
    }
    if (input) {
        std::lock_guard lock(sampleMutex_);
        lastInput_ = 0;
    }
    return 0;
}

int TtyLine::ModemStatus(TComSignals& lines) {
    lines = {};
    // The lines of a device that has gone are off.
    if (hungUp_)
        return 0;
    int bits = 0;
    if (has(ModemLines) && ioctl(fd_, TIOCMGET, &bits) != 0) {
        const int err = errno;
        if (err == EIO) {
            hangUp();
            return 0;
        }
        if (!unsupported(ModemLines, err))
            return WinError::FromErrno(err);
    }
    // A device without modem lines (a pseudo-terminal) reports them on, so
    // that a printer emulation on it counts as ready.
    if (!has(ModemLines))
        bits = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    if (bits & TIOCM_CTS)
        lines.Include(csCTS);
    if (bits & TIOCM_DSR)
        lines.Include(csDSR);
    if (bits & TIOCM_RNG)
        lines.Include(csRing);
    if (bits & TIOCM_CAR)
        lines.Include(csRLSD);
    return 0;
}

int TtyLine::InputWaiting(int& count) {
    count = 0;
    if (hungUp_)
        return 0;
    if (ioctl(fd_, TIOCINQ, &count) == 0)
        return 0;
    const int err = errno;
    count = 0;
    if (err == EIO) {
        hangUp();
        return 0;
    }
    return WinError::FromErrno(err);
}

int TtyLine::ClearError(TComErrors& errors, int& inputCount) {
    bool more = false;
    {
        std::lock_guard lock(sampleMutex_);
        sampleLocked();
        errors = std::exchange(errors_, TComErrors());
        more = !pending_.Empty();
    }
    // Whatever else the look found is for the next wait to report.
    if (more)
        wake();
    return InputWaiting(inputCount);
}

void TtyLine::sampleLocked() {
    if (txEmptyDue_.exchange(false))
        pending_.Include(evTxEmpty);
    if (hungUp_)
        return;
    sampleModemLocked();
    sampleCountersLocked();
    sampleInputLocked();
}

void TtyLine::sampleModemLocked() {
    if (!has(ModemLines))
        return;
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) {
        if (errno == EIO)
            hangUpLocked();
        else
            unsupported(ModemLines, errno);
        return;
    }
    const int changed = bits ^ lastModem_;
    if (changed & TIOCM_CTS)
        pending_.Include(evCTS);
    if (changed & TIOCM_DSR)
        pending_.Include(evDSR);
    if (changed & TIOCM_CAR)
        pending_.Include(evRLSD);
    if (changed & bits & TIOCM_RNG)
        pending_.Include(evRing);
    lastModem_ = bits;
}

void TtyLine::sampleCountersLocked() {
    if (!has(Counters))
        return;
    serial_icounter_struct c{};
    if (ioctl(fd_, TIOCGICOUNT, &c) != 0) {
        if (errno == EIO)
            hangUpLocked();
        else
            unsupported(Counters, errno);
        return;
    }
    const Counts now{c.cts,     c.dsr,    c.rng, c.dcd,        c.frame,
                     c.overrun, c.parity, c.brk, c.buf_overrun};
    // Lines that went off and on again between two looks.
    if (now.cts != lastCounts_.cts)
        pending_.Include(evCTS);
    if (now.dsr != lastCounts_.dsr)
        pending_.Include(evDSR);
    if (now.dcd != lastCounts_.dcd)
        pending_.Include(evRLSD);
    if (now.rng != lastCounts_.rng)
        pending_.Include(evRing);
    TComErrors found;
    if (now.frame != lastCounts_.frame)
        found.Include(ceFrame);
    if (now.overrun != lastCounts_.overrun)
        found.Include(ceOverrun);
    if (now.parity != lastCounts_.parity)
        found.Include(ceRxParity);
    if (now.bufOverrun != lastCounts_.bufOverrun)
        found.Include(ceRxOver);
    if (now.brk != lastCounts_.brk) {
        found.Include(ceBreak);
        pending_.Include(evBreak);
    }
    if (!found.Empty()) {
        errors_ |= found;
        pending_.Include(evError);
    }
    lastCounts_ = now;
}

void TtyLine::sampleInputLocked() {
    int waiting = 0;
    if (ioctl(fd_, TIOCINQ, &waiting) != 0) {
        if (errno == EIO)
            hangUpLocked();
        return;
    }
    if (waiting > lastInput_) {
        pending_.Include(evRxChar);
        const int full = inputSize_ * 8 / 10;
        if (waiting >= full && lastInput_ < full)
            pending_.Include(evRx80Full);
    }
    lastInput_ = waiting;
}

void TtyLine::startModemWatch() {
    if (modemWatchTried_ || !has(ModemLines))
        return;
    modemWatchTried_ = true;
    modemWatch_ = std::make_unique<TtyModemWatch>(fd_, [this] { wake(); });
}

// How long the event thread may wait before it must look again: never, when
// every change it reports can wake it.
int TtyLine::tickMs(int waiting) const {
    if (hungUp_)
        return -1;
    int tick = -1;
    auto every = [&tick](int ms) { tick = tick < 0 ? ms : std::min(tick, ms); };
    if (has(ModemLines) && !(modemWatch_ && modemWatch_->Watching()))
        every(modemTickMs);
    if (has(Counters) || waiting > 0)
        every(slowTickMs);
    return tick;
}

TComEvents TtyLine::WaitEvents(TComEvents mask) {
    startModemWatch();
    for (;;) {
        if (cancel_.exchange(false))
            return {};
        // A driver removing its port waits for every modem-line wait on it
        // to end, and the watch's wait would end only with Close.
        if (hungUp_)
            modemWatch_.reset();
        int waiting = 0;
        TComEvents events;
        {
            std::lock_guard lock(sampleMutex_);
            sampleLocked();
            // Events outside the mask are not kept: the port asked not to
            // hear of them.
            events = std::exchange(pending_, TComEvents()) & mask;
            waiting = lastInput_;
        }
        if (!events.Empty())
            return events;
        waitForActivity(waiting);
    }
}

// Blocks until the wake-up descriptor, the line or the tick says there may
// be something to report. poll() reports new input only while none waits:
// bytes nobody reads would otherwise wake it for ever. A line that hung up
// is not watched at all, so the thread neither spins nor touches it.
void TtyLine::waitForActivity(int waiting) {
    const bool watchLine = !hungUp_;
    pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd_, short(waiting == 0 ? POLLIN : 0), 0}};
    const int n = poll(p, watchLine ? 2 : 1, tickMs(waiting));
    if (n < 0 && errno != EINTR) {
        hangUp();
        return;
    }
    if (p[0].revents & POLLIN) {
        uint64_t drained = 0;
        [[maybe_unused]] const auto r = ::read(wakeFd_, &drained, sizeof drained);
    }
    if (watchLine && (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)))
        hangUp();
}
