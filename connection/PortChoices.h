#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Which device each of the printer's port names opens: the default
// (/dev/ttyS0 for COM1 ..., the port at 0x278 for LPT2), the operator's choice in
// "Portas do sistema", remembered between runs, or the command line's, for
// one run only. The choices take effect through PortMap and LptMap.
namespace PortChoices {

// What the command line asks of the ports for one run.
struct Overrides {
    QMap<QString, QString> comDevices; // "COM2" -> "/dev/ttyUSB0" or "virtual"
    QMap<QString, QString> lptDevices; // "LPT1" -> "/dev/parport0" or "virtual"
    bool virtualPrinter = false;
};

// COM1 ... COM4, LPT1, LPT2.
QStringList portNames();
bool isParallel(const QString& port);
QString defaultDevice(const QString& port);
// The device the port opens now ("virtual" for the virtual printer).
QString currentDevice(const QString& port);

// The remembered choices: port name -> device.
QMap<QString, QString> remembered();

// At start: the remembered choices, then the command line's for this run;
// --virtual-printer leads every port the command line does not name to the
// virtual printer.
void applyAtStart(const Overrides& options);
// Whether the command line chose the port's device for this run.
bool fromCommandLine(const QString& port);

// The operator's choice: opened from the next connect on, and remembered.
// An empty device goes back to the default and forgets the choice.
void choose(const QString& port, const QString& device);

// Whether any port leads to the virtual printer.
bool anyVirtual();

} // namespace PortChoices
