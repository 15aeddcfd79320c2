#include "link/comport/ComTypes.h"

#include <cerrno>
#include <cstddef>

namespace {
constexpr uint32_t eventValues[] = {0x1, 0x4, 0x2, 0x100, 0x40, 0x8, 0x10, 0x80, 0x20, 0x400};
constexpr uint32_t signalValues[] = {0x10, 0x20, 0x40, 0x80};
constexpr uint32_t errorValues[] = {0x8, 0x4, 0x2, 0x10, 0x400, 0x8000, 0x1, 0x100};
constexpr int baudValues[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                              14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

template <typename Set, std::size_t N> uint32_t toBits(Set set, const uint32_t (&values)[N]) {
    uint32_t bits = 0;
    for (std::size_t i = 0; i < N; ++i)
        if (set.Bits() & (1u << i))
            bits |= values[i];
    return bits;
}

template <typename Set, std::size_t N> Set fromBits(uint32_t bits, const uint32_t (&values)[N]) {
    uint32_t set = 0;
    for (std::size_t i = 0; i < N; ++i)
        if (bits & values[i])
            set |= 1u << i;
    return Set::FromBits(set);
}
} // namespace

uint32_t EventsToMask(TComEvents events) {
    return toBits(events, eventValues);
}
TComEvents MaskToEvents(uint32_t mask) {
    return fromBits<TComEvents>(mask, eventValues);
}
uint32_t EventValue(TComEvent event) {
    return eventValues[event];
}
uint32_t SignalsToModemStatus(TComSignals lines) {
    return toBits(lines, signalValues);
}
TComSignals ModemStatusToSignals(uint32_t status) {
    return fromBits<TComSignals>(status, signalValues);
}
uint32_t ErrorsToBits(TComErrors errors) {
    return toBits(errors, errorValues);
}
TComErrors BitsToErrors(uint32_t bits) {
    return fromBits<TComErrors>(bits, errorValues);
}

int BaudRateValue(TBaudRate rate, int customRate) {
    return rate == brCustom ? customRate : baudValues[rate];
}

int WinError::FromErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case EPERM:
    case EACCES:
    case EBUSY:
    case EAGAIN:
    case EISDIR:
        return AccessDenied;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return FileNotFound;
    case ENOTDIR:
        return PathNotFound;
    case EMFILE:
    case ENFILE:
        return TooManyOpenFiles;
    case EBADF:
        return InvalidHandle;
    case ENOMEM:
        return NotEnoughMemory;
    case EROFS:
        return WriteProtect;
    case ENOSYS:
    case EOPNOTSUPP:
        return NotSupported;
    case EINVAL:
        return InvalidParameter;
    case EPIPE:
        return BrokenPipe;
    case ENOSPC:
        return DiskFull;
    case ENAMETOOLONG:
    case ELOOP:
        return FilenameTooLong;
    case ENOTTY:
        return InvalidFunction;
    case EINTR:
    case ECANCELED:
        return OperationAborted;
    case EIO:
        return IoDevice;
    case ETIMEDOUT:
        return Timeout;
    default:
        return GenFailure;
    }
}

bool WinError::DeviceGone(int err) {
    return err == EIO || err == ENODEV || err == ENXIO || err == ESHUTDOWN;
}

int WinError::FromLineErrno(int err) {
    return DeviceGone(err) ? IoDevice : FromErrno(err);
}

int WinError::FromNetworkErrno(int err) {
    switch (err) {
    case ECONNREFUSED:
        return ConnectionRefused;
    case ENETUNREACH:
    case ENETDOWN:
        return NetworkUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
        return HostUnreachable;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
        return IoDevice;
    default:
        return FromErrno(err);
    }
}
