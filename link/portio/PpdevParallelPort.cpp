// The only file that uses the kernel's ppdev ioctls.
#include "link/portio/PpdevParallelPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString failure(const char* step, const QString& path, int err) {
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(step), path, QString::fromLocal8Bit(std::strerror(err)));
}

// ppdev answers "no such device or address" when the port cannot be had
// exclusively, that is whenever it already has a user.
QString claimFailure(const QString& path, int err) {
    if (err == ENXIO)
        return QStringLiteral("claim %1: held by another program or by another driver").arg(path);
    return failure("claim", path, err);
}

} // namespace

std::unique_ptr<PpdevParallelPort> PpdevParallelPort::open(const QString& path, QString* error) {
    const QByteArray native = path.toLocal8Bit();
    // Never as the controlling terminal: the caller has looked at the node,
    // but it may have been replaced since.
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = failure("open", path, errno);
        return nullptr;
    }
    auto fail = [&](const QString& why) {
        ::close(fd);
        *error = why;
        return nullptr;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return fail(QStringLiteral("open %1: not a parallel port device").arg(path));
    // Exclusive: no other program may drive the lines while we strobe bytes.
    // A claim without PPEXCL beside another driver can block for ever.
    if (::ioctl(fd, PPEXCL) != 0 || ::ioctl(fd, PPCLAIM) != 0)
        return fail(claimFailure(path, errno));
    return std::unique_ptr<PpdevParallelPort>(new PpdevParallelPort(fd));
}

PpdevParallelPort::~PpdevParallelPort() {
    ::ioctl(fd_, PPRELEASE);
    ::close(fd_);
}

void PpdevParallelPort::access(unsigned long request, unsigned char* value) {
    while (::ioctl(fd_, request, value) != 0) {
        if (errno != EINTR) {
            lost_ = true;
            return;
        }
    }
}

uint8_t PpdevParallelPort::read(Register reg) {
    unsigned char value = 0xFF;
    access(pick<unsigned long>(reg, PPRDATA, PPRSTATUS, PPRCONTROL), &value);
    return value;
}

void PpdevParallelPort::write(Register reg, uint8_t value) {
    // The status register is input lines only; a write reaches nothing.
    if (reg == Register::Status)
        return;
    unsigned char byte = value;
    access(pick<unsigned long>(reg, PPWDATA, 0, PPWCONTROL), &byte);
}
