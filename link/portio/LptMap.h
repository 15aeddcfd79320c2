#pragma once

#include "link/devicemap/DeviceMap.h"

#include <QString>
#include <memory>

class VirtualParallelPort;

// The process-wide map from parallel port names ("LPT1", "LPT2") to the
// device each opens. By default LPT1 is the port at 0x378 and LPT2 the one at
// 0x278, whatever the kernel numbered them; main() applies the command line's
// --lpt1/--lpt2, and "virtual" attaches the port that the registered virtual
// port provider hands out.
namespace LptMap {

inline constexpr const char* VirtualDevice = DeviceMap<VirtualParallelPort>::VirtualDevice;

// An empty device forgets the mapping: the name goes back to its default.
void map(const QString& lptName, const QString& device);
// Forgets every mapping, back to the defaults. The provider stays.
void reset();
// The device for "LPT1" or "LPT2" (or a mapped name); empty for any other name.
QString device(const QString& lptName);

// The device a name opens unless mapped, from what the kernel has now: the
// parport at the name's legacy base (0x378, 0x278), through the lp driver's
// node when lp is registered on it. A name whose base no port has takes the
// next port the other name leaves, in the kernel's order (a PCI card), then
// the USB printers; with none left, a /dev/parportN that does not exist.
// root is "/" but for tests.
QString defaultDevice(const QString& lptName, const QString& root = QStringLiteral("/"));

// The virtual printer registers one provider; it is asked for a port each time
// a name mapped to "virtual" is opened and may hand out the same port again.
// Returns the previous provider; an empty one removes it.
using VirtualPortProvider = DeviceMap<VirtualParallelPort>::Provider;
VirtualPortProvider setVirtualPortProvider(VirtualPortProvider provider);
// The provider's port for a name, or null when no provider is registered.
std::shared_ptr<VirtualParallelPort> virtualPort(const QString& lptName);

} // namespace LptMap
