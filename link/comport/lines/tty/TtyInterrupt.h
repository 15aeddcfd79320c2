#pragma once

#include <chrono>

// A signal that makes a tty call blocked in the kernel return: the modem-line
// wait has no descriptor to wake it, and a tty's last close may wait for
// output the device will not take. Its handler does nothing.
namespace TtyInterrupt {

// The real-time signal the program uses for nothing else, with its empty
// handler installed (once, on the first call).
int signal();

// Closes fd on this thread. A driver still waiting for output to drain
// after grace (a USB adapter whose printer holds CTS off, a device that
// reads nothing) is interrupted, and the close then discards what is left.
void closeWithin(int fd, std::chrono::milliseconds grace);

} // namespace TtyInterrupt
