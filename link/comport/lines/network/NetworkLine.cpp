// Reaching the server and the line settings: resolving and connecting
// without holding the window, agreeing on COM-PORT-OPTION, and sending the
// port's settings with their acknowledgements checked.
#include "link/comport/lines/network/NetworkLine.h"

#include "link/comport/EventLoopWait.h"
#include "link/comport/LineWaits.h"
#include "link/comport/lines/network/NetworkConnect.h"

#include <QByteArray>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
using namespace Rfc2217;

// How long resolving, connecting and agreeing on the telnet options may take
// together, and how long a server may take to answer the settings.
constexpr auto reachTime = std::chrono::seconds(5);
// A server that answers the settings but never reports its modem lines is
// not waited for longer than this: its lines then read on.
constexpr auto modemGrace = std::chrono::seconds(1);

int winErrorOf(const NetworkFailure& failure) {
    switch (failure.kind) {
    case NetworkFailure::Kind::None:
        return 0;
    case NetworkFailure::Kind::Malformed:
        return WinError::InvalidParameter;
    case NetworkFailure::Kind::NameNotFound:
    case NetworkFailure::Kind::NameServerSilent:
        return WinError::HostNotFound;
    case NetworkFailure::Kind::Refused:
        return WinError::ConnectionRefused;
    case NetworkFailure::Kind::NoAnswer:
    case NetworkFailure::Kind::NotRfc2217:
        return WinError::Timeout;
    case NetworkFailure::Kind::ZoneNeeded:
        return WinError::InvalidParameter;
    case NetworkFailure::Kind::ServerRefused:
    case NetworkFailure::Kind::Misbehaved:
        return WinError::IoDevice;
    case NetworkFailure::Kind::Unreachable:
        return WinError::FromNetworkErrno(failure.errorNumber);
    case NetworkFailure::Kind::SettingRefused:
        return WinError::InvalidParameter;
    }
    return WinError::GenFailure;
}

// The four line settings by their COM-PORT-OPTION code (1 ... 4, in the
// server's terms), and the three SET-CONTROL values.
struct Settings {
    uint32_t line[5] = {};
    uint8_t control[3] = {};
};

Settings settingsOf(const TDCB& dcb) {
    static const uint8_t stopSizes[] = {StopSize::One, StopSize::OneAndHalf, StopSize::Two};
    Settings s;
    s.line[SetBaudRate] = dcb.BaudRate;
    s.line[SetDataSize] = dcb.ByteSize;
    s.line[SetParity] = uint8_t(dcb.Parity + 1); // NOPARITY ... SPACEPARITY
    s.line[SetStopSize] = stopSizes[dcb.StopBits];
    s.control[0] = (dcb.Flags & TDCB::fOutxCtsFlow) ? Control::HardwareFlow
                   : (dcb.Flags & TDCB::fOutX)      ? Control::XonXoffFlow
                                                    : Control::NoFlow;
    s.control[1] = dcb.DtrControl() == dtrDisable ? Control::DtrOff : Control::DtrOn;
    const TRTSFlowControl rts = dcb.RtsControl();
    s.control[2] = rts == rtsEnable || rts == rtsHandshake ? Control::RtsOn : Control::RtsOff;
    return s;
}

} // namespace

// Everything (the lookup, the connect, the RFC 2217 agreement) shares the
// one time to reach the server.
std::unique_ptr<SerialLine> NetworkLine::open(const QString& url, int& winError,
                                              LineOpening* opening) {
    const auto deadline = Clock::now() + reachTime;
    NetworkFailure failure;
    const std::optional<NetworkAddress> where = NetworkAddress::parse(url);
    int fd = -1;
    if (!where)
        failure.kind = NetworkFailure::Kind::Malformed;
    else if (where->lacksZone())
        failure.kind = NetworkFailure::Kind::ZoneNeeded;
    else
        fd = NetworkConnect::reach(*where, deadline, opening, failure);
    std::unique_ptr<NetworkLine> line;
    if (fd >= 0) {
        line.reset(new NetworkLine(fd, *where, url));
        if (!line->ready() || line->arrivedFd_ < 0 || line->watchFd_ < 0 || line->drainFd_ < 0) {
            failure.kind = NetworkFailure::Kind::Unreachable;
            failure.errorNumber = errno;
        } else if (line->rfc2217() && line->agreeComPortOption(deadline, opening) != 0) {
            failure = line->refusalOrSilence();
        }
    }
    if (opening && opening->Cancelled()) {
        winError = WinError::OperationAborted;
        return nullptr;
    }
    NetworkFailure::record(url, failure);
    winError = winErrorOf(failure);
    if (winError)
        return nullptr;
    return line;
}

NetworkLine::NetworkLine(int fd, const NetworkAddress& address, const QString& url)
    // The socket edge-triggered in the event thread's set: every arrival
    // wakes it once.
    : DescriptorLine(fd, eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), epoll_create1(EPOLL_CLOEXEC),
                     EPOLLIN | EPOLLRDHUP | EPOLLET),
      arrivedFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      watchFd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      drainFd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)), address_(address),
      url_(url) {
    LineWaits::watch(pollFd_, watchFd_, EPOLLIN);
    // A raw line has no modem lines of its own: CTS changes only with the
    // printer taking bytes, and is an event from the start.
    reportModem_ = !rfc2217();
}

NetworkLine::~NetworkLine() {
    // What was written and not yet taken still goes: the kernel sends it
    // after the close, which does not wait for it.
    for (const int fd : {fd_, arrivedFd_, watchFd_, drainFd_})
        if (fd >= 0)
            ::close(fd);
}

// The client offers COM-PORT-OPTION, binary and no go-ahead both ways, and
// asks for every modem line change and the line errors; the server must
// take COM-PORT-OPTION before anything else is said.
int NetworkLine::agreeComPortOption(Clock::time_point deadline, LineOpening* opening) {
    {
        std::lock_guard lock(stateMutex_);
        for (const uint8_t option : {ComPortOption, Binary, SuppressGoAhead}) {
            owed_ += Rfc2217::negotiation(Will, option);
            weWill_.set(option);
        }
        for (const uint8_t option : {Binary, SuppressGoAhead}) {
            owed_ += Rfc2217::negotiation(Do, option);
            theyWill_.set(option);
        }
    }
    sendControl({});
    const auto end = EventLoopWait::until(
        {{fd_}, {arrivedFd_}}, deadline,
        [this] {
            takeInAwaited();
            std::lock_guard lock(stateMutex_);
            return comPortAgreed_ || comPortRefused_ || hungUp_;
        },
        opening);
    std::lock_guard lock(stateMutex_);
    if (end != EventLoopWait::End::Done || !comPortAgreed_)
        return WinError::Timeout;
    owed_ += Rfc2217::comPort(SetModemStateMask, 0xff);
    owed_ +=
        Rfc2217::comPort(SetLineStateMask, LineState::BreakDetect | LineState::FramingError |
                                               LineState::ParityError | LineState::OverrunError);
    return 0;
}

// Why the server ended the opening: a device server that cannot open its
// own serial port says so in a line of text and closes (ser2net: "Device
// open failure: ..."), and is shown in its own words, printable characters
// only and not too many of them.
NetworkFailure NetworkLine::refusalOrSilence() {
    constexpr int longest = 200;
    NetworkFailure failure;
    failure.kind = NetworkFailure::Kind::NotRfc2217;
    std::lock_guard lock(stateMutex_);
    if (!hungUp_)
        return failure;
    QString said = QString::fromUtf8(input_.left(longest));
    if (const qsizetype end = said.indexOf(QRegularExpression(QStringLiteral("[\\r\\n]")));
        end >= 0)
        said.truncate(end);
    for (QChar& c : said)
        if (!c.isPrint())
            c = QLatin1Char(' ');
    said = said.simplified();
    if (!said.isEmpty()) {
        failure.kind = NetworkFailure::Kind::ServerRefused;
        failure.said = said;
    }
    return failure;
}

int NetworkLine::hungUpOpening() {
    // Only while the port opens: later a close is a lost line.
    if (!reportModem_) {
        const NetworkFailure failure = refusalOrSilence();
        if (failure.kind == NetworkFailure::Kind::ServerRefused)
            NetworkFailure::record(url_, failure);
    }
    return WinError::IoDevice;
}

// Raw TCP has no line to set; a device server gets every setting that
// changed, and must confirm the four that shape the characters.
int NetworkLine::SetCommState(const TDCB& dcb) {
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2 ||
        int(dcb.BaudRate) <= 0)
        return WinError::InvalidParameter;
    if (hungUp_)
        return hungUpOpening();
    if (!rfc2217())
        return 0;
    bool awaited = false;
    const bool first = !sent_;
    if (const int error = sendSettings(dcb, awaited))
        return hungUp_ ? hungUpOpening() : error;
    if (awaited)
        if (const int error = awaitAnswers())
            return error;
    if (first) {
        // The lines the server reported while the port opened are where
        // the port starts from; changes from now on are events.
        EventLoopWait::until({{fd_}, {arrivedFd_}}, Clock::now() + modemGrace, [this] {
            takeInAwaited();
            std::lock_guard lock(stateMutex_);
            return modemHeard_ || hungUp_ || closing_;
        });
        std::lock_guard lock(stateMutex_);
        reportModem_ = true;
    }
    return 0;
}

int NetworkLine::sendSettings(const TDCB& dcb, bool& awaited) {
    const Settings now = settingsOf(dcb);
    const std::optional<Settings> before = sent_ ? std::optional(settingsOf(*sent_)) : std::nullopt;
    QByteArray out;
    {
        std::lock_guard lock(stateMutex_);
        for (int code = SetBaudRate; code <= SetStopSize; ++code) {
            if (before && before->line[code] == now.line[code])
                continue;
            answers_[code].reset();
            asked_[code] = now.line[code];
            awaiting_[code] = awaited = true;
            out += code == SetBaudRate
                       ? Rfc2217::comPort(SetBaudRate, baudRateValue(now.line[code]))
                       : Rfc2217::comPort(uint8_t(code), uint8_t(now.line[code]));
        }
    }
    // Flow control, DTR and RTS are sent, not awaited: a server on a port
    // without modem lines never answers DTR and RTS.
    for (int i = 0; i < 3; ++i)
        if (!before || before->control[i] != now.control[i])
            out += Rfc2217::comPort(SetControl, now.control[i]);
    sent_ = dcb;
    sendControl(out);
    return hungUp_ ? WinError::IoDevice : 0;
}

int NetworkLine::awaitAnswers() {
    EventLoopWait::until({{fd_}, {arrivedFd_}}, Clock::now() + reachTime, [this] {
        takeInAwaited();
        std::lock_guard lock(stateMutex_);
        if (hungUp_ || closing_)
            return true;
        for (int code = SetBaudRate; code <= SetStopSize; ++code)
            if (awaiting_[code] && !answers_[code])
                return false;
        return true;
    });
    if (closing_)
        return WinError::OperationAborted;
    if (hungUp_)
        return hungUpOpening();
    return refusedSetting();
}

// The first setting the server did not confirm (another value, or none),
// recorded for the operator; it is sent again at the next change.
int NetworkLine::refusedSetting() {
    static const NetworkFailure::Setting settings[] = {
        NetworkFailure::Setting::Rate, NetworkFailure::Setting::Rate,
        NetworkFailure::Setting::DataBits, NetworkFailure::Setting::Parity,
        NetworkFailure::Setting::StopBits};
    NetworkFailure failure;
    {
        std::lock_guard lock(stateMutex_);
        for (int code = SetBaudRate; code <= SetStopSize; ++code) {
            if (std::exchange(awaiting_[code], false) && answers_[code] != asked_[code] &&
                failure.kind == NetworkFailure::Kind::None) {
                failure.kind = NetworkFailure::Kind::SettingRefused;
                failure.setting = settings[code];
                failure.asked = asked_[code];
                failure.answered = answers_[code];
            }
        }
    }
    if (failure.kind == NetworkFailure::Kind::None)
        return 0;
    NetworkFailure::record(url_, failure);
    sent_.reset();
    return WinError::InvalidParameter;
}
