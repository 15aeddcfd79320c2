#pragma once

#include <cstdint>
#include <initializer_list>

// The serial port's enumerations, their sets, and the two records the port
// hands to a serial line: the device control block and the time-outs. Values
// follow the Win32 layout the program was designed around, so that settings,
// event masks and error bits read the same on every line implementation.

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TComEvent {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
enum TComSignal { csCTS, csDSR, csRing, csRLSD };
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

// A set of enumeration values, as small as a Pascal set and as cheap to copy.
template <typename E, int Count> class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> values) {
        for (E v : values)
            bits_ |= bit(v);
    }
    static constexpr TSet All() { return FromBits((1u << Count) - 1); }
    static constexpr TSet FromBits(uint32_t bits) {
        TSet s;
        s.bits_ = bits & ((1u << Count) - 1);
        return s;
    }
    constexpr uint32_t Bits() const { return bits_; }
    constexpr bool Contains(E v) const { return (bits_ & bit(v)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TSet& Include(E v) {
        bits_ |= bit(v);
        return *this;
    }
    constexpr TSet& Exclude(E v) {
        bits_ &= ~bit(v);
        return *this;
    }
    constexpr TSet operator|(TSet o) const { return FromBits(bits_ | o.bits_); }
    constexpr TSet operator&(TSet o) const { return FromBits(bits_ & o.bits_); }
    constexpr TSet& operator|=(TSet o) {
        bits_ |= o.bits_;
        return *this;
    }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr uint32_t bit(E v) { return 1u << static_cast<int>(v); }
    uint32_t bits_ = 0;
};

using TComEvents = TSet<TComEvent, 10>;
using TComSignals = TSet<TComSignal, 4>;
using TComErrors = TSet<TComError, 8>;

// Win32 values of the enumerations above.
uint32_t EventsToMask(TComEvents events); // EV_RXCHAR ... EV_RX80FULL
TComEvents MaskToEvents(uint32_t mask);
uint32_t EventValue(TComEvent event);
uint32_t SignalsToModemStatus(TComSignals lines); // MS_CTS_ON ... MS_RLSD_ON
TComSignals ModemStatusToSignals(uint32_t status);
uint32_t ErrorsToBits(TComErrors errors); // CE_FRAME ... CE_TXFULL
TComErrors BitsToErrors(uint32_t bits);
// Bit/s for a rate; brCustom yields customRate.
int BaudRateValue(TBaudRate rate, int customRate);

// The device control block, as given to SetCommState.
struct TDCB {
    uint32_t DCBlength = 28;
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;   // NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY
    uint8_t StopBits = 0; // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;

    enum : uint32_t {
        fBinary = 0x1,
        fParity = 0x2,
        fOutxCtsFlow = 0x4,
        fOutxDsrFlow = 0x8,
        fDtrControlMask = 0x30,
        fDsrSensitivity = 0x40,
        fTXContinueOnXoff = 0x80,
        fOutX = 0x100,
        fInX = 0x200,
        fErrorChar = 0x400,
        fNull = 0x800,
        fRtsControlMask = 0x3000,
        fAbortOnError = 0x4000,
    };
    TDTRFlowControl DtrControl() const {
        return static_cast<TDTRFlowControl>((Flags & fDtrControlMask) >> 4);
    }
    TRTSFlowControl RtsControl() const {
        return static_cast<TRTSFlowControl>((Flags & fRtsControlMask) >> 12);
    }
    bool operator==(const TDCB&) const = default;
};

// The five time-outs of SetCommTimeouts, in milliseconds; MAXDWORD is the
// all-ones value a -1 property passes as.
struct TCommTimeouts {
    static constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;
    uint32_t ReadIntervalTimeout = MAXDWORD;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 100;
    uint32_t WriteTotalTimeoutConstant = 1000;
    bool operator==(const TCommTimeouts&) const = default;
};

// Windows error codes the lines report, with errno translated to the code of
// the same meaning.
namespace WinError {
// Unscoped, so that a code is an int wherever one is expected.
enum Code : int {
    InvalidFunction = 1,
    FileNotFound = 2,
    PathNotFound = 3,
    TooManyOpenFiles = 4,
    AccessDenied = 5,
    InvalidHandle = 6,
    NotEnoughMemory = 8,
    WriteProtect = 19,
    GenFailure = 31,
    NotSupported = 50,
    InvalidParameter = 87,
    BrokenPipe = 109,
    DiskFull = 112,
    FilenameTooLong = 206,
    OperationAborted = 995,
    IoDevice = 1117,
    ConnectionRefused = 1225,
    NetworkUnreachable = 1231,
    HostUnreachable = 1232,
    Timeout = 1460,
    HostNotFound = 11001,
};

int FromErrno(int err);
// Whether an error on an open port means the device went away (a USB adapter
// pulled out): drivers answer EIO, ENODEV, ENXIO or ESHUTDOWN, depending on
// how far the removal has gone.
bool DeviceGone(int err);
// FromErrno for a call on an open port: a device that went away is the
// device's I/O error, whatever the driver said.
int FromLineErrno(int err);
// FromErrno for a connect or a connection: refused, unreachable, timed out.
int FromNetworkErrno(int err);
} // namespace WinError
