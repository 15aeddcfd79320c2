#include "link/comport/TtyLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// While a write is draining, the event thread looks this often; between
// events it looks at the modem lines and counters at the tick.
constexpr auto drainStep = std::chrono::microseconds(500);
constexpr int tickMs = 20;

// The milliseconds poll() should wait to reach a deadline: -1 for none,
// rounded up so that a wake-up never comes before it.
int msUntil(Clock::time_point until) {
    if (until == Clock::time_point::max())
        return -1;
    const auto left = until - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
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
} // namespace

std::unique_ptr<SerialLine> TtyLine::open(const QString& device, int& winError) {
    const QByteArray path = device.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        winError = WinError::FromErrno(errno);
        return nullptr;
    }
    auto fail = [&](int error) -> std::unique_ptr<SerialLine> {
        ::close(fd);
        winError = error;
        return nullptr;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd))
        return fail(WinError::InvalidFunction);
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
}

TtyLine::~TtyLine() {
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
    std::lock_guard lock(sampleMutex_);
    hangUpLocked();
}

void TtyLine::hangUpLocked() {
    if (!hungUp_.exchange(true))
        errors_.Include(ceIO);
}

int TtyLine::SetupComm(int inputSize, int) {
    // The kernel sizes its own queues; the input size still sets the mark
    // at which the queue counts as 80 % full.
    inputSize_ = inputSize > 0 ? inputSize : 1;
    return 0;
}

int TtyLine::SetCommState(const TDCB& dcb) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return WinError::FromErrno(errno);
    cfmakeraw(&t);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_iflag |= IGNBRK;
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
        return WinError::InvalidParameter;
    t.c_cflag |= sizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
    case 0:
        break;
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        return WinError::InvalidParameter;
    }
    if (dcb.Flags & TDCB::fParity)
        t.c_iflag |= INPCK;
    // 1.5 stop bits exist only with 5 data bits, where the UART gives 1.5
    // for the two-stop-bit setting.
    if (dcb.StopBits != 0)
        t.c_cflag |= CSTOPB;
    // Hardware output flow control: the driver holds every byte while CTS is
    // off. Linux couples it with RTS input flow control.
    if (dcb.Flags & TDCB::fOutxCtsFlow)
        t.c_cflag |= CRTSCTS;
    if (dcb.Flags & TDCB::fOutX)
        t.c_iflag |= IXON;
    if (dcb.Flags & TDCB::fInX)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = cc_t(dcb.XonChar);
    t.c_cc[VSTOP] = cc_t(dcb.XoffChar);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const int baud = int(dcb.BaudRate);
    if (baud <= 0)
        return WinError::InvalidParameter;
    speed_t code = B38400;
    const bool standard = standardSpeed(baud, code);
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    if (tcsetattr(fd_, TCSANOW, &t) != 0)
        return WinError::FromErrno(errno);
    if (!standard)
        if (const int err = TtyBaud::setRate(fd_, baud))
            return WinError::FromErrno(err);

    // A driver may quietly refuse part of it; read the settings back.
    termios r{};
    if (tcgetattr(fd_, &r) != 0)
        return WinError::FromErrno(errno);
    const tcflag_t cmask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CREAD | CLOCAL;
    const tcflag_t imask = IGNBRK | INPCK | IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP;
    const tcflag_t lmask = ICANON | ECHO | ISIG | IEXTEN;
    int actual = 0;
    const bool rateOk =
        TtyBaud::getRate(fd_, actual) == 0 && std::abs(actual - baud) * 100 <= baud * 3;
    if ((r.c_cflag & cmask) != (t.c_cflag & cmask) || (r.c_iflag & imask) != (t.c_iflag & imask) ||
        (r.c_lflag & lmask) != 0 || (r.c_oflag & OPOST) != 0 || r.c_cc[VMIN] != 0 ||
        r.c_cc[VTIME] != 0 || !rateOk)
        return WinError::InvalidParameter;

    const TDTRFlowControl dtr = dcb.DtrControl();
    const TRTSFlowControl rts = dcb.RtsControl();
    rtsToggle_ = rts == rtsToggle;
    int on = 0, off = 0;
    (dtr == dtrDisable ? off : on) |= TIOCM_DTR;
    ((rts == rtsEnable || rts == rtsHandshake) ? on : off) |= TIOCM_RTS;
    setModemLine(on, true);
    setModemLine(off, false);

    byteTimeNs_ = int64_t(10'000'000'000LL / baud);
    discardNull_ = (dcb.Flags & TDCB::fNull) != 0;
    return 0;
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
    const auto deadlines = TransferDeadlines::ForWrite(timeouts_, count, Clock::now());
    if (rtsToggle_)
        setModemLine(TIOCM_RTS, true);
    int accepted = 0;
    while (accepted < count) {
        const ssize_t n = ::write(fd_, data + accepted, size_t(count - accepted));
        if (n > 0) {
            accepted += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return WinError::FromErrno(errno);
        pollfd p{fd_, POLLOUT, 0};
        const int ms = msUntil(deadlines.Total());
        if (ms == 0)
            break;
        if (poll(&p, 1, ms) == 0)
            break;
    }
    // The event thread reports the transmitter empty once these have left.
    if (accepted > 0) {
        txArmed_ = true;
        wake();
    }
    int queued = 0;
    for (;;) {
        if (const int err = outputQueue(queued))
            return WinError::FromErrno(err);
        if (queued == 0 && transmitterEmpty())
            break;
        const auto now = Clock::now();
        if (now >= deadlines.Total()) {
            // Time is up: what has not left is dropped, as the port's
            // write time-out ends a transfer.
            tcflush(fd_, TCOFLUSH);
            break;
        }
        const auto estimate =
            std::chrono::nanoseconds(std::max<int64_t>(queued, 1) * byteTimeNs_.load());
        std::this_thread::sleep_until(
            std::min(deadlines.Total(), now + std::max<Clock::duration>(estimate, drainStep)));
    }
    if (rtsToggle_)
        setModemLine(TIOCM_RTS, false);
    written = accepted - queued;
    return 0;
}

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
            return WinError::FromErrno(err);
        if (got > 0) {
            read += got;
            last = Clock::now();
            continue;
        }
        const auto until = deadlines.ReadUntil(read, last);
        const int ms = msUntil(until);
        if (until <= Clock::now() || ms == 0)
            break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, ms) < 0 && errno != EINTR)
            return WinError::FromErrno(errno);
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
            return WinError::FromErrno(err);
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
    int bits = 0;
    if (has(ModemLines) && ioctl(fd_, TIOCMGET, &bits) != 0 && !unsupported(ModemLines, errno))
        return WinError::FromErrno(errno);
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
    if (ioctl(fd_, TIOCINQ, &count) != 0)
        return WinError::FromErrno(errno);
    return 0;
}

int TtyLine::ClearError(TComErrors& errors, int& inputCount) {
    {
        std::lock_guard lock(sampleMutex_);
        if (!hungUp_)
            sampleLocked();
        errors = errors_;
        errors_ = {};
    }
    return InputWaiting(inputCount);
}

TComEvents TtyLine::sampleLocked() {
    TComEvents events;
    if (hungUp_)
        return events;
    if (has(ModemLines)) {
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) == 0) {
            const int changed = bits ^ lastModem_;
            if (changed & TIOCM_CTS)
                events.Include(evCTS);
            if (changed & TIOCM_DSR)
                events.Include(evDSR);
            if (changed & TIOCM_CAR)
                events.Include(evRLSD);
            if (changed & bits & TIOCM_RNG)
                events.Include(evRing);
            lastModem_ = bits;
        } else if (errno == EIO) {
            hangUpLocked();
        } else {
            unsupported(ModemLines, errno);
        }
    }
    if (has(Counters)) {
        serial_icounter_struct c{};
        if (ioctl(fd_, TIOCGICOUNT, &c) == 0) {
            Counts now{c.cts,     c.dsr,    c.rng, c.dcd,        c.frame,
                       c.overrun, c.parity, c.brk, c.buf_overrun};
            // Lines that went off and on again between two looks.
            if (now.cts != lastCounts_.cts)
                events.Include(evCTS);
            if (now.dsr != lastCounts_.dsr)
                events.Include(evDSR);
            if (now.dcd != lastCounts_.dcd)
                events.Include(evRLSD);
            if (now.rng != lastCounts_.rng)
                events.Include(evRing);
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
                events.Include(evBreak);
            }
            if (!found.Empty()) {
                errors_ |= found;
                events.Include(evError);
            }
            lastCounts_ = now;
        } else if (errno == EIO) {
            hangUpLocked();
        } else {
            unsupported(Counters, errno);
        }
    }
    int waiting = 0;
    if (ioctl(fd_, TIOCINQ, &waiting) == 0) {
        if (waiting > lastInput_) {
            events.Include(evRxChar);
            const int full = inputSize_ * 8 / 10;
            if (waiting >= full && lastInput_ < full)
                events.Include(evRx80Full);
        }
        lastInput_ = waiting;
    } else if (errno == EIO) {
        hangUpLocked();
    }
    if (txArmed_) {
        int queued = 0;
        if (outputQueue(queued) == 0 && queued == 0 && transmitterEmpty()) {
            txArmed_ = false;
            events.Include(evTxEmpty);
        }
    }
    if (hungUp_ && !hangUpReported_) {
        hangUpReported_ = true;
        events.Include(evError);
    }
    return events;
}

TComEvents TtyLine::WaitEvents(TComEvents mask) {
    for (;;) {
        if (cancel_.exchange(false))
            return {};
        if (hungUp_) {
            // A hung-up line is reported once; after that only the wake-up
            // descriptor is watched, so the thread neither spins nor touches
            // the device.
            std::unique_lock lock(sampleMutex_);
            if (!hangUpReported_) {
                hangUpReported_ = true;
                lock.unlock();
                if (mask.Contains(evError))
                    return {evError};
                continue;
            }
            lock.unlock();
            pollfd p{wakeFd_, POLLIN, 0};
            poll(&p, 1, -1);
            uint64_t drained = 0;
            [[maybe_unused]] const auto n = ::read(wakeFd_, &drained, sizeof drained);
            continue;
        }
        int waiting = 0;
        TComEvents events;
        {
            std::lock_guard lock(sampleMutex_);
            events = sampleLocked() & mask;
            waiting = lastInput_;
        }
        if (!events.Empty())
            return events;
        if (hungUp_)
            continue;

        // poll() sees new input only while none is waiting; bytes nobody
        // reads would otherwise wake it for ever. The modem lines, the
        // counters and waiting input are looked at on the tick; a draining
        // write more often, so that the transmitter is reported empty within
        // a couple of milliseconds of the line going idle.
        int timeout = -1;
        if (has(ModemLines) || has(Counters) || waiting > 0)
            timeout = tickMs;
        if (txArmed_)
            timeout = std::min(timeout < 0 ? tickMs : timeout, 1);
        pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd_, short(waiting == 0 ? POLLIN : 0), 0}};
        const int n = poll(p, 2, timeout);
        if (n < 0 && errno != EINTR)
            hangUp();
        if (p[0].revents & POLLIN) {
            uint64_t drained = 0;
            [[maybe_unused]] const auto r = ::read(wakeFd_, &drained, sizeof drained);
        }
        if (p[1].revents & (POLLHUP | POLLNVAL))
            hangUp();
    }
}
