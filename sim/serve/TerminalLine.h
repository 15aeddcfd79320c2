#pragma once

#include "sim/printer/LineSettings.h"

#include <optional>

// A terminal's line settings, read and set through the kernel's termios2, so
// that any rate is carried (14400 bit/s as well as 9600) and none is taken
// for another. Either end of a pseudo-terminal gives the terminal's settings.
namespace TerminalLine {

// Nothing when the descriptor is not a terminal.
std::optional<LineSettings> read(int fd);
// The settings as a terminal carries them: more than one stop bit is one
// flag, which reads back as 1.5 at five data bits and as 2 otherwise.
LineSettings carried(LineSettings line);
// Raw, without flow control, at the line's settings. False with errno set.
bool setRaw(int fd, const LineSettings& line);

} // namespace TerminalLine
