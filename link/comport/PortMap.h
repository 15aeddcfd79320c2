#pragma once

#include <QString>

// The process-wide map from port names ("COM1" ... "COM96") to the device a
// port name opens. By default COMn is /dev/ttyS(n-1); the command line maps a
// name to another device, or to "virtual" for the built-in virtual printer.
namespace PortMap {

inline constexpr const char* VirtualDevice = "virtual";

// Maps a normalised port name to a device path (or "virtual").
void map(const QString& portName, const QString& device);
// Forgets every mapping, back to the defaults.
void reset();
// The device for a normalised port name; an empty string for a name that is
// not COM1 ... COM96 and has no mapping.
QString device(const QString& portName);

} // namespace PortMap
