#pragma once

#include <QString>
#include <functional>
#include <memory>

class VirtualParallelPort;

// The process-wide map from parallel port names ("LPT1", "LPT2") to the
// device each opens. By default LPT1 is /dev/parport0 and LPT2 /dev/parport1;
// main() applies the command line's --lpt1/--lpt2, and "virtual" attaches the
// port that the registered virtual port provider hands out.
namespace LptMap {

inline constexpr const char* VirtualDevice = "virtual";

void map(const QString& lptName, const QString& device);
// Forgets every mapping, back to the defaults. The provider stays.
void reset();
// The device for "LPT1" or "LPT2" (or a mapped name); empty for any other name.
QString device(const QString& lptName);

// The virtual printer registers one provider; it is asked for a port each time
// a name mapped to "virtual" is opened and may hand out the same port again.
// Returns the previous provider; an empty one removes it.
using VirtualPortProvider =
    std::function<std::shared_ptr<VirtualParallelPort>(const QString& lptName)>;
VirtualPortProvider setVirtualPortProvider(VirtualPortProvider provider);
// The provider's port for a name, or null when no provider is registered.
std::shared_ptr<VirtualParallelPort> virtualPort(const QString& lptName);

} // namespace LptMap
