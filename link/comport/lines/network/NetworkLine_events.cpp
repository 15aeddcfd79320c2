// What the event thread of a network line waits for and reports, and what a
// device server says besides the data. The thread sleeps in epoll until the
// socket brings something (edge-triggered: every arrival wakes it once),
// a write ends, or the port stops it; nothing wakes it while the connection
// is idle, as the kernel keeps the connection alive by itself.
#include "link/comport/lines/network/NetworkLine.h"

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
    if (ctsLocked())
        lines.Include(csCTS);
    if (modem_ & Modem::Dsr)
        lines.Include(csDSR);
    if (modem_ & Modem::Ri)
        lines.Include(csRing);
    if (modem_ & Modem::Cd)
        lines.Include(csRLSD);
    return 0;
}

void NetworkLine::look() {
    moreToTake_ = !takeIn();
    watchSending();
}

// A connection that has ended leaves the set, so the thread neither spins
// on it nor touches it again. What a turn left in the socket is taken at
// the next at once.
void NetworkLine::waitForActivity() {
    unwatchIfHungUp({fd_});
    epoll_event ready[3] = {};
    const int n = epoll_wait(pollFd_, ready, 3, moreToTake_ && !hungUp_ ? 0 : -1);
    for (int i = 0; i < n; ++i)
        if (ready[i].data.fd == wakeFd_ || ready[i].data.fd == watchFd_)
            LineWaits::drainCounter(ready[i].data.fd);
}

// CTS as the port sees it: the server's line, unless the printer has
// stopped taking bytes or the server asked to suspend.
bool NetworkLine::ctsLocked() const {
    return (modem_ & Modem::Cts) && !busy_ && !suspended_;
}

// Sets one of the causes that hold CTS off; a change of CTS is an event
// once the port's opening is over.
void NetworkLine::setCtsCauseLocked(bool& cause, bool on) {
    const bool before = ctsLocked();
    cause = on;
    if (reportModem_ && ctsLocked() != before)
        pending_.Include(evCTS);
}

// --- The server's telnet, taken apart under stateMutex_ -------------------

void NetworkLine::data(const char* bytes, int count) {
    appendInputLocked(bytes, count);
}

// The client wants binary, no go-ahead and COM-PORT-OPTION, and refuses
// every other option. Only a change of state is answered (RFC 1143): a
// request already agreed is not answered again, nor one already refused,
// so a server that repeats a request is not answered each time. What the
// line owes is bounded (owedLocked).
void NetworkLine::negotiation(Command verb, uint8_t option) {
    const bool wanted = option == Binary || option == SuppressGoAhead || option == ComPortOption;
    const auto owe = [this](Command answer, uint8_t about) {
        const QByteArray bytes = Rfc2217::negotiation(answer, about);
        if (owedLocked(bytes.size()))
            owed_ += bytes;
    };
    switch (verb) {
    case Will:
        if (wanted && !theyWill_.test(option))
            owe(Do, option);
        else if (!wanted && !refusedWill_.test(option))
            owe(Dont, option);
        theyWill_.set(option, wanted);
        refusedWill_.set(option, !wanted);
        break;
    case Wont:
        if (theyWill_.test(option))
            owe(Dont, option);
        theyWill_.reset(option);
        break;
    case Do:
        if (option == ComPortOption)
            comPortAgreed_ = true;
        if (wanted && !weWill_.test(option))
            owe(Will, option);
        else if (!wanted && !refusedDo_.test(option))
            owe(Wont, option);
        weWill_.set(option, wanted);
        refusedDo_.set(option, !wanted);
        break;
    case Dont:
        if (option == ComPortOption)
            comPortRefused_ = true;
        if (weWill_.test(option))
            owe(Wont, option);
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
    else if (answered == FlowControlSuspend || answered == FlowControlResume)
        setCtsCauseLocked(suspended_, answered == FlowControlSuspend);
}

// The server's modem lines drive the port's events as a tty's do: a line
// that changed, or went off and on again since the last notification.
void NetworkLine::modemStateLocked(uint8_t state) {
    const uint8_t changed = state ^ modem_;
    const bool ctsBefore = ctsLocked();
    modem_ = state;
    modemHeard_ = true;
    if (!reportModem_)
        return;
    if (ctsLocked() != ctsBefore || (!busy_ && !suspended_ && (state & Modem::DeltaCts)))
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
