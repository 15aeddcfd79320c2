#pragma once

#include <QString>

#include <sys/types.h>

// What the lp and usblp drivers' nodes share, for the parallel port that
// writes to them and the serial line that talks to a USB printer both ways.
namespace PrinterNode {

// The USB printer class's status byte (usblp's LPGETSTATUS); it has no busy bit.
inline constexpr int NotError = 0x08;
inline constexpr int Selected = 0x10;
inline constexpr int PaperEmpty = 0x20;

// Whether a USB printer with this status takes data and prints: selected,
// with paper and no error.
constexpr bool ready(int usbStatus) {
    return (usbStatus & (NotError | Selected | PaperEmpty)) == (NotError | Selected);
}

// LPGETSTATUS, as one byte (usblp sign-extends it); -1 with errno set on
// failure.
int status(int fd);

// One write() of a node opened non-blocking: the bytes the driver took (0
// while the printer is busy: EAGAIN), or -1 with errno set. Interruptions are
// retried.
ssize_t offer(int fd, const char* data, size_t count);

// Waits up to ms (-1: no limit) for the driver to have handed the last write
// to the printer: usblp is not writable while one is still in flight (lp
// writes synchronously, and always is). 1 when it has, 0 not yet, -1 when
// the device has gone.
int waitTaken(int fd, int ms);

// Whether an open node failed because its device has gone (a USB cable
// pulled out); every other failure (busy, no paper, off-line, interrupted)
// is the printer's, and passes.
bool gone(int err);

// Whether a character device is a USB printer's node: the USB major is shared
// by every small USB class driver, and sysfs names the printer's lpN. root is
// "/" but for tests.
bool isUsbPrinter(dev_t device, const QString& root = QStringLiteral("/"));

} // namespace PrinterNode
