#pragma once

#include <cstdint>
#include <functional>

// The only ways the program reaches the printer (besides ComPort1's Write and
// Read for the queries). All run on the GUI thread.

// False, after the "ATENÇÃO" warning box, when no interface is connected.
bool RequireInterface();
// Sends a block over the connected interface; serial wins if both are set.
// Returns how many of its bytes left: on the serial port fewer than count
// when the write time-out expired while CTS held the line.
int SendBytes(const uint8_t* data, int count);
// Strobes one byte out of the parallel port, then pauses 2 ms. Always 0.
int ParallelWriteByte(uint8_t value);
void PollParallelFault();
void PollParallelBusy();
// The handler of the main window's 400 ms Timer1.
void Timer1Timer();

// The fixed pauses of the link and the commands. A test may install a sleeper
// that records the pauses instead of sleeping; an empty one restores real sleep.
namespace LinkSleep {
using Sleeper = std::function<void(int ms)>;
void Sleep(int ms);
Sleeper setSleeper(Sleeper sleeper);
} // namespace LinkSleep
