// Reaching the server and the line settings: resolving and connecting
// without holding the window, agreeing on COM-PORT-OPTION, and sending the
// port's settings with their acknowledgements checked.
#include "link/comport/NetworkLine.h"

#include "link/comport/LineWaits.h"
#include "link/comport/NetworkWait.h"

#include <QByteArray>

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

// The kernel gives up on a silent peer by itself: keepalive probes after 5 s
// of quiet, every 2 s, 5 unanswered mean lost (15 s), and unacknowledged data
// is given 15 s. No timer of the program's runs for it.
void setSocketOptions(int fd) {
    const int on = 1, idle = 5, interval = 2, probes = 5;
    const unsigned userTimeoutMs = 15000;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = 0;
};

// A name lookup on a thread of its own, as getaddrinfo() blocks. A lookup
// the wait gives up on finishes by itself later and frees what it used.
struct Lookup {
    int error = 0;
    std::vector<Address> addresses;
};

void resolve(Lookup& lookup, const QByteArray& host, const QByteArray& port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    lookup.error = getaddrinfo(host.constData(), port.constData(), &hints, &found);
    for (addrinfo* a = found; a; a = a->ai_next) {
        Address address;
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        address.family = a->ai_family;
        lookup.addresses.push_back(address);
    }
    if (found)
        freeaddrinfo(found);
}

// The addresses of the host, without holding the window: an address needs
// no lookup, a name is looked up on a thread of its own.
std::shared_ptr<Lookup> lookUp(const NetworkAddress& where, Clock::time_point deadline,
                               LineOpening* opening, NetworkFailure& failure) {
    const QByteArray host = where.host.toUtf8();
    const QByteArray port = QByteArray::number(where.port);
    auto lookup = std::make_shared<Lookup>();
    resolve(*lookup, host, port, AI_NUMERICHOST | AI_NUMERICSERV);
    if (lookup->error == 0)
        return lookup;
    lookup = std::make_shared<Lookup>();
    const auto end = NetworkWait::aside(
        [lookup, host, port] { resolve(*lookup, host, port, AI_NUMERICSERV); }, deadline, opening);
    if (end == NetworkWait::End::Cancelled)
        return nullptr;
    if (end == NetworkWait::End::TimedOut)
        failure.kind = NetworkFailure::Kind::NoAnswer;
    else if (lookup->error == EAI_AGAIN)
        failure.kind = NetworkFailure::Kind::NameServerSilent;
    else if (lookup->error != 0 || lookup->addresses.empty())
        failure.kind = NetworkFailure::Kind::NameNotFound;
    return failure.kind == NetworkFailure::Kind::None ? lookup : nullptr;
}

// One connect, within the deadline: the socket, or -1 with errno set.
int connectTo(const Address& address, Clock::time_point deadline, LineOpening* opening) {
    const int fd = socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return -1;
    setSocketOptions(fd);
    int err = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            const auto end = NetworkWait::until(
                {{fd, true}}, deadline,
                [fd] {
                    pollfd p{fd, POLLOUT, 0};
                    return poll(&p, 1, 0) > 0;
                },
                opening);
            socklen_t length = sizeof err;
            if (end == NetworkWait::End::Cancelled)
                err = ECANCELED;
            else if (end == NetworkWait::End::TimedOut)
                err = ETIMEDOUT;
            else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
                err = errno;
        }
    }
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

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

NetworkFailure connectFailure(int err) {
    NetworkFailure failure;
    failure.kind = err == ECONNREFUSED ? NetworkFailure::Kind::Refused
                   : err == ETIMEDOUT  ? NetworkFailure::Kind::NoAnswer
                                       : NetworkFailure::Kind::Unreachable;
    failure.errorNumber = err;
    return failure;
}
} // namespace

std::unique_ptr<SerialLine> NetworkLine::open(const QString& url, int& winError,
                                              LineOpening* opening) {
    const auto deadline = Clock::now() + reachTime;
    NetworkFailure failure;
    const std::optional<NetworkAddress> where = NetworkAddress::parse(url);
    std::shared_ptr<Lookup> lookup;
    if (!where)
        failure.kind = NetworkFailure::Kind::Malformed;
    else
        lookup = lookUp(*where, deadline, opening, failure);
    int fd = -1, err = ETIMEDOUT;
    for (const Address& address : lookup ? lookup->addresses : std::vector<Address>()) {
        fd = connectTo(address, deadline, opening);
        // Each address in turn ("localhost" is ::1 and 127.0.0.1), while time is left.
        if (fd >= 0 || (err = errno) == ECANCELED || err == ETIMEDOUT)
            break;
    }
    if (lookup && fd < 0)
        failure = connectFailure(err);
    std::unique_ptr<NetworkLine> line;
    if (fd >= 0) {
        line.reset(new NetworkLine(fd, *where, url));
        if (line->wakeFd_ < 0 || line->pollFd_ < 0 || line->arrivedFd_ < 0)
            failure = connectFailure(errno);
        else if (line->rfc2217() && line->agreeComPortOption(opening) != 0)
            failure.kind = NetworkFailure::Kind::NotRfc2217;
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
    : fd_(fd), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      pollFd_(epoll_create1(EPOLL_CLOEXEC)), arrivedFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      address_(address), url_(url) {
    LineWaits::watch(pollFd_, wakeFd_, EPOLLIN);
    LineWaits::watch(pollFd_, fd_, EPOLLIN | EPOLLRDHUP | EPOLLET);
}

NetworkLine::~NetworkLine() {
    // What was written and not yet taken still goes: the kernel sends it
    // after the close, which does not wait for it.
    for (const int fd : {fd_, wakeFd_, pollFd_, arrivedFd_})
        if (fd >= 0)
            ::close(fd);
}

// The client offers COM-PORT-OPTION, binary and no go-ahead both ways, and
// asks for every modem line change and the line errors; the server must
// take COM-PORT-OPTION before anything else is said.
int NetworkLine::agreeComPortOption(LineOpening* opening) {
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
    const auto deadline = Clock::now() + reachTime;
    const auto end = NetworkWait::until(
        {{fd_}, {arrivedFd_}}, deadline,
        [this] {
            takeInAwaited();
            std::lock_guard lock(stateMutex_);
            return comPortAgreed_ || comPortRefused_ || hungUp_;
        },
        opening);
    std::lock_guard lock(stateMutex_);
    if (end != NetworkWait::End::Done || !comPortAgreed_)
        return WinError::Timeout;
    owed_ += Rfc2217::comPort(SetModemStateMask, 0xff);
    owed_ +=
        Rfc2217::comPort(SetLineStateMask, LineState::BreakDetect | LineState::FramingError |
                                               LineState::ParityError | LineState::OverrunError);
    return 0;
}

int NetworkLine::SetupComm(int inputSize, int) {
    inputSize_ = inputSize > 0 ? inputSize : 1;
    return 0;
}

int NetworkLine::SetCommTimeouts(const TCommTimeouts& timeouts) {
    timeouts_ = timeouts;
    return 0;
}

// Raw TCP has no line to set; a device server gets every setting that
// changed, and must confirm the four that shape the characters.
int NetworkLine::SetCommState(const TDCB& dcb) {
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2 ||
        int(dcb.BaudRate) <= 0)
        return WinError::InvalidParameter;
    if (hungUp_)
        return WinError::IoDevice;
    if (!rfc2217())
        return 0;
    bool awaited = false;
    const bool first = !sent_;
    if (const int error = sendSettings(dcb, awaited))
        return error;
    if (awaited)
        if (const int error = awaitAnswers())
            return error;
    if (first) {
        // The lines the server reported while the port opened are where
        // the port starts from; changes from now on are events.
        NetworkWait::until({{fd_}, {arrivedFd_}}, Clock::now() + modemGrace, [this] {
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
    NetworkWait::until({{fd_}, {arrivedFd_}}, Clock::now() + reachTime, [this] {
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
        return WinError::IoDevice;
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
