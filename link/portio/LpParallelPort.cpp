// The only file that uses the printer drivers' ioctls (linux/lp.h).
#include "link/portio/LpParallelPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/lp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The USB printer class's status byte.
constexpr int UsbNotError = 0x08;
constexpr int UsbSelected = 0x10;
constexpr int UsbPaperEmpty = 0x20;

QString failure(const char* step, const QString& path, int err) {
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(step), path, QString::fromLocal8Bit(std::strerror(err)));
}

// The register a parallel port would read with this printer on it: paper end
// and select as the class byte says, and the error line low for anything that
// stops printing, as a printer pulls its fault line for each of them. The
// class byte has no busy bit; the caller adds it.
uint8_t registerFromUsbClass(int status) {
    using Port = ParallelPortBackend;
    uint8_t value = Port::NotBusyLine | Port::AckLine;
    if (status & UsbSelected)
        value |= Port::SelectLine;
    if (status & UsbPaperEmpty)
        value |= Port::PaperEndLine;
    if ((status & UsbNotError) && (status & UsbSelected) && !(status & UsbPaperEmpty))
        value |= Port::ErrorLine;
    return value;
}

// An open node whose device has gone fails with these; every other failure
// (busy, no paper, off-line, an interrupted call) leaves the bytes waiting.
bool deviceGone(int err) {
    return err == ENODEV || err == ENXIO || err == ESHUTDOWN;
}

int lpStatus(int fd) {
    int status = 0;
    while (::ioctl(fd, LPGETSTATUS, &status) != 0) {
        if (errno != EINTR)
            return -1;
    }
    // usblp sign-extends its status byte.
    return status & 0xFF;
}

} // namespace

std::unique_ptr<LpParallelPort> LpParallelPort::open(const QString& path, Kind kind,
                                                     QString* error) {
    const QByteArray native = path.toLocal8Bit();
    const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = failure("open", path, errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || lpStatus(fd) < 0) {
        *error = QStringLiteral("status %1: not a printer device").arg(path);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<LpParallelPort>(new LpParallelPort(fd, kind));
}

LpParallelPort::~LpParallelPort() {
    ::close(fd_);
}

uint8_t LpParallelPort::read(Register reg) {
    switch (reg) {
    case Register::Data:
        return data_;
    case Register::Status:
        return status();
    case Register::Control:
        return control_;
    }
    return 0xFF;
}

void LpParallelPort::write(Register reg, uint8_t value) {
    switch (reg) {
    case Register::Data:
        data_ = value;
        waiting_.append(static_cast<char>(value));
        flush();
        break;
    case Register::Control:
        control_ = value;
        break;
    case Register::Status:
        break;
    }
}

// One write() of whatever waits: the driver takes what it can.
void LpParallelPort::flush() {
    while (!waiting_.isEmpty() && !lost_) {
        const ssize_t n = ::write(fd_, waiting_.constData(), size_t(waiting_.size()));
        if (n > 0) {
            waiting_.remove(0, n);
            return;
        }
        if (n < 0 && errno == EINTR)
            continue;
        lost_ = n < 0 && deviceGone(errno);
        return;
    }
}

// usblp hands each write to the device and returns; it shows the device
// still holding the last one by not being writable. lp writes synchronously
// and is always writable.
bool LpParallelPort::allTaken() {
    if (!waiting_.isEmpty())
        return false;
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, 0) < 0)
        return errno == EINTR;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        lost_ = true;
    return (p.revents & POLLOUT) != 0;
}

uint8_t LpParallelPort::status() {
    flush();
    const int raw = lpStatus(fd_);
    if (raw < 0) {
        lost_ = true;
        return 0xFF;
    }
    uint8_t value = kind_ == Kind::UsbPrinter ? registerFromUsbClass(raw) : uint8_t(raw);
    if (!allTaken())
        value &= static_cast<uint8_t>(~NotBusyLine);
    return value;
}
