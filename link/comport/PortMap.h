#pragma once

#include "link/devicemap/DeviceMap.h"

#include <QString>

#include <memory>

class VirtualLine;

// The process-wide map from port names ("COM1" ... "COM96") to the device a
// port name opens. By default COMn is /dev/ttyS(n-1); the command line maps a
// name to another device, to "virtual" for the built-in virtual printer, or to
// a network line ("tcp://HOST:PORT", "rfc2217://HOST:PORT").
// Used on the GUI thread only.
namespace PortMap {

inline constexpr const char* VirtualDevice = DeviceMap<VirtualLine>::VirtualDevice;

// Maps a normalised port name to a device path (or "virtual"); an empty device
// forgets the mapping.
void map(const QString& portName, const QString& device);
// Forgets every mapping, back to the defaults. The virtual line provider stays.
void reset();
// The device for a normalised port name; an empty string for a name that is
// not COM1 ... COM96 and has no mapping.
QString device(const QString& portName);
// The device a name opens unless mapped: COMn is /dev/ttyS(n-1).
QString defaultDevice(const QString& portName);

// Hands out the virtual line a port mapped to "virtual" opens: the virtual
// printer, or a test, installs one. It may return null (the open then fails
// as for a missing device). Returns the previous provider; an empty one
// removes it.
using VirtualLineProvider = DeviceMap<VirtualLine>::Provider;
VirtualLineProvider setVirtualLineProvider(VirtualLineProvider provider);
// The line the provider gives for a port name, or null.
std::shared_ptr<VirtualLine> virtualLine(const QString& portName);

} // namespace PortMap
