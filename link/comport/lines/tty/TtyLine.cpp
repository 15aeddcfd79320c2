#include "link/comport/lines/tty/TtyLine.h"

#include "link/comport/ByteTime.h"
#include "link/comport/LineWaits.h"
#include "link/comport/lines/tty/TtyBaud.h"
#include "link/comport/lines/tty/TtyHolder.h"
#include "link/comport/lines/tty/TtyInterrupt.h"
#include "link/comport/lines/tty/TtyLock.h"
#include "link/comport/lines/tty/TtyModemWatch.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How long the last close may wait for output to drain before it is cut
// short: Close must return promptly whatever the printer does with CTS.
constexpr auto closeGrace = std::chrono::milliseconds(200);

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
    // A break reads as a mark (PARMRK, without IGNBRK or BRKINT): input
    // that wakes the event thread, which finds it in the driver's counters.
    // Reads take the marks out, so no NUL reaches the printer's replies.
    t.c_iflag = PARMRK;
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

// Makes an opened tty the port's: refuses what is no tty or is held by a
// lock of its own kind, then lowers DTR and RTS before anything else reaches
// the device. 0, or the Windows error.
int claim(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return WinError::InvalidFunction;
    // A node without a UART opens, and then fails even the tty check.
    if (!isatty(fd))
        return errno == EIO ? openError(EIO) : WinError::InvalidFunction;
    // Two locks, as programs on Linux use either: an advisory lock for those
    // that honour it, and the tty's own exclusive mode for the rest.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? WinError::AccessDenied : WinError::FromErrno(errno);
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return WinError::AccessDenied;
    // Opening raised DTR and RTS; the printer must not see them until the
    // flow control settings say so. A device without modem lines refuses,
    // and has nothing to lower.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    if (ioctl(fd, TIOCEXCL) != 0 && !notOffered(errno))
        return WinError::FromErrno(errno);
    return 0;
}
} // namespace

std::unique_ptr<SerialLine> TtyLine::open(const QString& device, int& winError,
                                          LineOpening* opening) {
    const QByteArray path = QFile::encodeName(device);
    // Only a device node is opened: opening a FIFO or some other file could
    // act on it before the checks below refuse it.
    struct stat node {};
    const bool exists = ::stat(path.constData(), &node) == 0;
    if (exists && !S_ISCHR(node.st_mode)) {
        winError = WinError::InvalidFunction;
        return nullptr;
    }
    // Who holds a terminal is asked before it is opened: the open itself
    // raises DTR and RTS, under the holder's feet. A holder the kernel hides
    // may still have set exclusive mode, which makes the open fail (EBUSY).
    auto lock = std::make_unique<TtyLock>();
    pid_t holder = 0;
    if (exists && TtyHolder::isTerminal(node.st_rdev) &&
        (!lock->take(device, holder) || !TtyHolder::isFree(device, opening))) {
        winError = WinError::AccessDenied;
        return nullptr;
    }
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        winError = openError(errno);
        return nullptr;
    }
    winError = claim(fd);
    const int wakeFd = winError ? -1 : eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int pollFd = wakeFd < 0 ? -1 : epoll_create1(EPOLL_CLOEXEC);
    if (pollFd < 0) {
        if (!winError)
            winError = WinError::FromErrno(errno);
        for (const int open : {fd, wakeFd})
            if (open >= 0)
                ::close(open);
        return nullptr;
    }
    return std::unique_ptr<SerialLine>(new TtyLine(fd, wakeFd, pollFd, std::move(lock)));
}

TtyLine::TtyLine(int fd, int wakeFd, int pollFd, std::unique_ptr<TtyLock> lock)
    // The tty edge-triggered, so each arrival wakes the event thread even
    // while unread input waits.
    : DescriptorLine(fd, wakeFd, pollFd, EPOLLIN | EPOLLET), lock_(std::move(lock)) {
    std::lock_guard guard(stateMutex_);
    // The baselines, so that the first look reports changes only.
    sampleModemLocked();
    sampleCountersLocked();
    sampleInputLocked();
    pending_ = {};
    errors_ = {};
}

TtyLine::~TtyLine() {
    {
        std::lock_guard lock(watchMutex_);
        // First, as its ioctl keeps the tty open, and so locked.
        modemWatch_.reset();
    }
    ioctl(fd_, TIOCNXCL);
    // Nobody waits for what is still queued: dropped, a UART's close has
    // nothing left to send; what a USB driver has passed on, the bounded
    // close discards. The lock file goes last, once the device is closed.
    tcflush(fd_, TCOFLUSH);
    TtyInterrupt::closeWithin(fd_, closeGrace);
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
    if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0 && !unsupported(ModemControl, errno))
        queryFailed(errno);
}

int TtyLine::queryFailed(int err) {
    if (!WinError::DeviceGone(err))
        return WinError::FromErrno(err);
    hangUp();
    return 0;
}

int TtyLine::SetCommState(const TDCB& dcb) {
    if (const int error = applyTermios(dcb))
        return error;
    applyModemControl(dcb);
    byteTimeNs_ = byteTimeAt(dcb.BaudRate).count();
    discardNull_ = (dcb.Flags & TDCB::fNull) != 0;
    {
        std::lock_guard lock(watchMutex_);
        if (modemWatch_)
            modemWatch_->Rearm();
    }
    // A change the driver could not announce meanwhile is looked for now.
    modemDue_ = true;
    wake();
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
