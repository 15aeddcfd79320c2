#pragma once

#include <QList>
#include <QString>

// The serial and parallel devices this machine has, read from sysfs, for the
// operator to map the printer's port names to. root is "/" but for tests,
// which build a tree of their own; every path given back lies under it.
struct SystemPort {
    QString path;        // /dev/serial/by-id/usb-FTDI_..., /dev/ttyUSB0, /dev/parport0
    QString driver;      // ftdi_sio, cdc_acm, serial8250, parport_pc; empty when unknown
    QString description; // "FTDI FT232R USB UART (0403:6001)", "porta serial (UART)" ...
    bool operator==(const SystemPort&) const = default;
};

namespace SystemPorts {

// The stable /dev/serial/by-id names first, then every tty with a device
// behind it, whatever its driver calls it: ttyUSB*, ttyACM*, the other names
// (ttyAMA*, rfcomm*, ttyXRUSB* ...) in order of name, and the ttyS* that have
// a UART, each in numeric order.
QList<SystemPort> serial(const QString& root = QStringLiteral("/"));
// The parallel ports the kernel knows, parport0 first, with their base
// address and hardware, whether or not the ppdev module has made their
// devices (/dev/parport1, parport_pc, "porta paralela em 0x378 (PNP0400)");
// then the lp driver's nodes (/dev/lp1) and the USB printers (/dev/usb/lp0,
// usblp, the maker and model from the printer's device ID). The devices LPT1
// and LPT2 open by default say so.
QList<SystemPort> parallel(const QString& root = QStringLiteral("/"));
// The USB printers among them, which the COM ports talk to both ways as well.
QList<SystemPort> usbPrinters(const QString& root = QStringLiteral("/"));

} // namespace SystemPorts
