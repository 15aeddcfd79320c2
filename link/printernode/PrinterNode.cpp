// The only file that uses the printer drivers' ioctls (linux/lp.h).
#include "link/printernode/PrinterNode.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <linux/lp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace PrinterNode {

namespace {
constexpr unsigned UsbMajor = 180;
} // namespace

int status(int fd) {
    int value = 0;
    while (::ioctl(fd, LPGETSTATUS, &value) != 0) {
        if (errno != EINTR)
            return -1;
    }
    return value & 0xFF;
}

ssize_t offer(int fd, const char* data, size_t count) {
    for (;;) {
        const ssize_t n = ::write(fd, data, count);
        if (n >= 0)
            return n;
        if (errno == EAGAIN)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

int waitTaken(int fd, int ms) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, ms) <= 0)
        return 0;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        return -1;
    return (p.revents & POLLOUT) ? 1 : 0;
}

bool gone(int err) {
    return err == ENODEV || err == ENXIO || err == ESHUTDOWN;
}

bool isUsbPrinter(dev_t device, const QString& root) {
    if (::major(device) != UsbMajor)
        return false;
    const QString sys = QDir::cleanPath(
        root + QStringLiteral("/sys/dev/char/%1:%2").arg(::major(device)).arg(::minor(device)));
    return QFileInfo(QFileInfo(sys).canonicalFilePath()).fileName().startsWith(QLatin1String("lp"));
}

} // namespace PrinterNode
