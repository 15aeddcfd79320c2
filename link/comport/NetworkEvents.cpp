// What the event thread of a network line waits for and reports, and what a
// device server says besides the data. The thread sleeps in epoll until the
// socket brings something (edge-triggered: every arrival wakes it once),
// a write ends, or the port stops it; nothing wakes it while the connection
// is idle, as the kernel keeps the connection alive by itself.
#include "link/comport/NetworkLine.h"

#include "link/comport/LineWaits.h"

#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>
#include <utility>

using namespace Rfc2217;

int NetworkLine::ModemStatus(TComSignals& lines) {
    lines = {};
    // The lines of a server that has gone are off.
    if (hungUp_)
        return 0;
    std::lock_guard lock(stateMutex_);
    if (modem_ & Modem::Cts)
        lines.Include(csCTS);
    if (modem_ & Modem::Dsr)
        lines.Include(csDSR);
    if (modem_ & Modem::Ri)
        lines.Include(csRing);
    if (modem_ & Modem::Cd)
        lines.Include(csRLSD);
    return 0;
}

int NetworkLine::ClearError(TComErrors& errors, int& inputCount) {
    bool more = false;
    {
        std::lock_guard lock(stateMutex_);
        errors = std::exchange(errors_, TComErrors());
        more = !pending_.Empty();
    }
    if (more)
        wake();
    return InputWaiting(inputCount);
}

TComEvents NetworkLine::WaitEvents(TComEvents mask) {
    auto takeEvents = [this] {
        takeIn();
        std::lock_guard lock(stateMutex_);
        if (txEmptyDue_.exchange(false))
            pending_.Include(evTxEmpty);
        return std::exchange(pending_, TComEvents());
    };
    return LineWaits::waitEvents(cancel_, mask, takeEvents, [this] { waitForActivity(); });
}

// A connection that has ended leaves the set, so the thread neither spins
// on it nor touches it again.
void NetworkLine::waitForActivity() {
    if (hungUp_ && !socketUnwatched_) {
        epoll_ctl(pollFd_, EPOLL_CTL_DEL, fd_, nullptr);
        socketUnwatched_ = true;
    }
    epoll_event ready[2] = {};
    const int n = epoll_wait(pollFd_, ready, 2, -1);
    for (int i = 0; i < n; ++i)
        if (ready[i].data.fd == wakeFd_) {
            LineWaits::drainCounter(wakeFd_);
        }
}

// --- The server's telnet, taken apart under stateMutex_ -------------------

void NetworkLine::data(const char* bytes, int count) {
    appendInputLocked(bytes, count);
}

// The client wants binary, no go-ahead and COM-PORT-OPTION, and refuses
// every other option; a request already agreed is not answered again, so
// the two sides never loop.
void NetworkLine::negotiation(Command verb, uint8_t option) {
    const bool wanted = option == Binary || option == SuppressGoAhead || option == ComPortOption;
    switch (verb) {
    case Will:
        if (wanted && !theyWill_.test(option))
            owed_ += Rfc2217::negotiation(Do, option);
        else if (!wanted)
            owed_ += Rfc2217::negotiation(Dont, option);
        theyWill_.set(option, wanted);
        break;
    case Wont:
        if (theyWill_.test(option))
            owed_ += Rfc2217::negotiation(Dont, option);
        theyWill_.reset(option);
        break;
    case Do:
        if (option == ComPortOption)
            comPortAgreed_ = true;
        if (wanted && !weWill_.test(option))
            owed_ += Rfc2217::negotiation(Will, option);
        else if (!wanted)
            owed_ += Rfc2217::negotiation(Wont, option);
        weWill_.set(option, wanted);
        break;
    case Dont:
        if (option == ComPortOption)
            comPortRefused_ = true;
        if (weWill_.test(option))
            owed_ += Rfc2217::negotiation(Wont, option);
        weWill_.reset(option);
        break;
    default:
        break;
    }
}

void NetworkLine::comPort(uint8_t code, const QByteArray& value) {
    if (code < ServerOffset)
        return;
    const uint8_t answered = uint8_t(code - ServerOffset);
    if (answered >= SetBaudRate && answered <= SetStopSize)
        answers_[answered] =
            answered == SetBaudRate ? baudRateOf(value) : uint32_t(uint8_t(value[0]));
    else if (answered == NotifyModemState)
        modemStateLocked(uint8_t(value[0]));
    else if (answered == NotifyLineState)
        lineStateLocked(uint8_t(value[0]));
}

// The server's modem lines drive the port's events as a tty's do: a line
// that changed, or went off and on again since the last notification.
void NetworkLine::modemStateLocked(uint8_t state) {
    const uint8_t changed = state ^ modem_;
    modem_ = state;
    modemHeard_ = true;
    if (!reportModem_)
        return;
    if ((changed & Modem::Cts) || (state & Modem::DeltaCts))
        pending_.Include(evCTS);
    if ((changed & Modem::Dsr) || (state & Modem::DeltaDsr))
        pending_.Include(evDSR);
    if ((changed & Modem::Cd) || (state & Modem::DeltaCd))
        pending_.Include(evRLSD);
    if ((changed & state & Modem::Ri) || (state & Modem::TrailingRi))
        pending_.Include(evRing);
}

void NetworkLine::lineStateLocked(uint8_t state) {
    TComErrors found;
    if (state & LineState::FramingError)
        found.Include(ceFrame);
    if (state & LineState::ParityError)
        found.Include(ceRxParity);
    if (state & LineState::OverrunError)
        found.Include(ceOverrun);
    if (state & LineState::BreakDetect) {
        found.Include(ceBreak);
        pending_.Include(evBreak);
    }
    if (!found.Empty()) {
        errors_ |= found;
        pending_.Include(evError);
    }
}
