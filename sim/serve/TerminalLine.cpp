// The kernel's own termios2 rather than the C library's termios: only it
// holds a rate as a number. The two cannot be included together.
#include "sim/serve/TerminalLine.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

constexpr std::pair<uint32_t, unsigned> StandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

} // namespace

std::optional<LineSettings> TerminalLine::read(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return std::nullopt;
    LineSettings line;
    // The kernel keeps the rate as a number whichever way it was set.
    line.rate = t.c_ospeed;
    const unsigned size = t.c_cflag & CSIZE;
    line.dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    if (!(t.c_cflag & PARENB))
        line.parity = 'N';
    else if (t.c_cflag & CMSPAR)
        line.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
    else
        line.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    // Two stop bits at five data bits are one and a half, as a UART sends them.
    line.halfStopBits = (t.c_cflag & CSTOPB) ? 4 : 2;
    line = carried(line);
    return line;
}

LineSettings TerminalLine::carried(LineSettings line) {
    if (line.halfStopBits > 2)
        line.halfStopBits = line.dataBits == 5 ? 3 : 4;
    return line;
}

bool TerminalLine::setRaw(int fd, const LineSettings& line) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_iflag &= ~unsigned(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                           IXOFF | IXANY | INPCK);
    t.c_oflag &= ~unsigned(OPOST);
    t.c_lflag &= ~unsigned(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~unsigned(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= CREAD;
    t.c_cflag |= line.dataBits == 5   ? CS5
                 : line.dataBits == 6 ? CS6
                 : line.dataBits == 7 ? CS7
                                      : CS8;
    if (line.parity != 'N')
        t.c_cflag |= PARENB | (line.parity == 'O' || line.parity == 'M' ? PARODD : 0) |
                     (line.parity == 'M' || line.parity == 'S' ? CMSPAR : 0);
    if (line.halfStopBits > 2)
        t.c_cflag |= CSTOPB;
    const auto* rate = std::find_if(std::begin(StandardRates), std::end(StandardRates),
                                    [&](const auto& r) { return r.first == line.rate; });
    t.c_cflag |= rate != std::end(StandardRates) ? rate->second : BOTHER;
    t.c_ispeed = t.c_ospeed = line.rate;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}
