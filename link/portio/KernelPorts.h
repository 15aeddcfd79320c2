#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <sys/types.h>

// What the kernel says about the machine's parallel ports: each parport with
// its I/O base (/proc/sys/dev/parport), the drivers registered on it, the lp
// driver's node for it, and the USB printers (/dev/usb/lpN). root is "/" but
// for tests, which build a sysfs and procfs of their own; every path given
// back lies under it.
namespace KernelPorts {

struct Parport {
    int number = 0;    // N of parportN, in the kernel's order
    uint16_t base = 0; // the I/O base address, 0 when the kernel does not say
};

// The parallel port kinds a device node can be.
enum class Kind { None, Ppdev, Lp, UsbPrinter };

// Every parport the kernel has, parport0 first.
QList<Parport> parports(const QString& root = QStringLiteral("/"));
// The drivers registered on parportN other than ppdev ("lp", "plip"), as
// /proc/sys/dev/parport/parportN/devices/ lists them: registered, even idle,
// they keep ppdev's exclusive claim out.
QStringList drivers(int port, const QString& root = QStringLiteral("/"));
// /dev/lpK, the lp driver's node for parportN, or empty without one.
QString lpNode(int port, const QString& root = QStringLiteral("/"));
// The USB printers' nodes (/dev/usb/lpN), in the kernel's order.
QStringList usbPrinters(const QString& root = QStringLiteral("/"));
// What a character device is, by the driver its number belongs to.
Kind kindOf(dev_t device, const QString& root = QStringLiteral("/"));

} // namespace KernelPorts
