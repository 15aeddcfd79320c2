#pragma once

// Bit rates through termios2, which takes any rate; kept in its own file
// because the kernel's termios header cannot live beside the C library's.
namespace TtyBaud {
// 0 or errno.
int setRate(int fd, int baud);
int getRate(int fd, int& baud);
} // namespace TtyBaud
