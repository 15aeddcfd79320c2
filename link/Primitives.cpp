#include "link/Primitives.h"

#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/portio/ParallelPortBackend.h"
#include "windowkit/Messages.h"

#include <QtGlobal>
#include <sys/prctl.h>

#include <chrono>
#include <thread>
#include <utility>

namespace {

constexpr uint16_t StatusOffset = 1;
constexpr uint16_t ControlOffset = 2;
constexpr uint8_t StrobeBit = 0x01;

LinkSleep::Sleeper& installedSleeper() {
    static LinkSleep::Sleeper sleeper;
    return sleeper;
}

// A port that is not wired reads as an absent ISA port: all lines high.
uint8_t readPort(uint16_t address) {
    return LinkDevices.PortIO1 ? LinkDevices.PortIO1->GetPortByte(address) : 0xFF;
}

void writePort(uint16_t address, uint8_t value) {
    if (LinkDevices.PortIO1)
        LinkDevices.PortIO1->SetPortByte(address, value);
}

void setLed(IndicatorAccess* led, bool on) {
    if (led)
        led->SetOn(on);
}

using Clock = std::chrono::steady_clock;

// Sleeps on the calling thread until the monotonic clock reaches deadline; a
// sleep cut short resumes towards the same instant, and a change of the wall
// clock can neither stretch nor skip it.
void sleepUntil(Clock::time_point deadline) {
    while (Clock::now() < deadline)
        std::this_thread::sleep_until(deadline);
}

// Narrows the calling thread's timer slack (50 us by default) to the finest
// while it lives, and gives the old value back after, so only the sleeps that
// need it are exact and the rest of the thread keeps the kernel's default.
class FineTimerSlack {
public:
    FineTimerSlack() : previous_(prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL)) {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }
    ~FineTimerSlack() {
        if (previous_ > 0)
            prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous_), 0UL, 0UL, 0UL);
    }
    FineTimerSlack(const FineTimerSlack&) = delete;
    FineTimerSlack& operator=(const FineTimerSlack&) = delete;

private:
    const int previous_;
};

// The printer needs 2 ms after a strobe to take the byte: the pause starts
// when the strobe has been released and lasts 2 ms of the monotonic clock,
// whatever came before it. Its cost above 2 ms is the kernel's wake-up
// latency, kept small by the fine timer slack.
void pauseAfterParallelByte() {
    if (installedSleeper()) {
        installedSleeper()(2);
        return;
    }
    const FineTimerSlack fine;
    sleepUntil(Clock::now() + std::chrono::milliseconds(2));
}

} // namespace

bool RequireInterface() {
    if (LinkState.SerialConnected || LinkState.ParallelConnected)
        return true;
    Messages::warningBox(
        QStringLiteral("Selecione Uma interface de comunicação (Serial ou Paralela)"));
    return false;
}

int SendBytes(const uint8_t* data, int count) {
    // An empty block starts no transmission, so nothing would ever report the
    // transmitter empty again: setting TxPending here would stall the sender.
    if (data == nullptr || count <= 0)
        return 0;
    LinkState.TxPending = true;
    if (LinkState.SerialConnected)
        return LinkDevices.ComPort1 ? LinkDevices.ComPort1->Write(data, count) : 0;
    for (int i = 0; i < count; ++i)
        ParallelWriteByte(data[i]);
    return count;
}

int ParallelWriteByte(uint8_t value) {
    const uint16_t base = LinkState.LptBasePort;
    const uint16_t control = base + ControlOffset;
    uint8_t c = readPort(control);
    writePort(control, c & ~StrobeBit);
    writePort(base, value);
    c = readPort(control);
    writePort(control, c | StrobeBit);
    writePort(control, c & ~StrobeBit);
    pauseAfterParallelByte();
    return 0;
}

void PollParallelFault() {
    const uint8_t s = readPort(LinkState.LptBasePort + StatusOffset);
    LinkState.PrinterFault = (s & ParallelPortBackend::ErrorLine) == 0;
}

void PollParallelBusy() {
    const uint8_t s = readPort(LinkState.LptBasePort + StatusOffset);
    const bool watchBusy = LinkDevices.VerificaBusyChecked && LinkDevices.VerificaBusyChecked();
    if (!watchBusy) {
        setLed(LinkDevices.ComLed3, false);
        return;
    }
    LinkState.PrinterBusy = (s & ParallelPortBackend::NotBusyLine) == 0;
    setLed(LinkDevices.ComLed3, LinkState.PrinterBusy);
}

void Timer1Timer() {
    PollParallelBusy();
    PollParallelFault();
    if (LinkState.PrinterFault) {
        LinkState.FaultBlinkPhase = !LinkState.FaultBlinkPhase;
        setLed(LinkDevices.ComLed5, LinkState.FaultBlinkPhase);
    } else {
        setLed(LinkDevices.ComLed5, false);
    }
}

namespace LinkSleep {

void Sleep(int ms) {
    if (const Sleeper& sleeper = installedSleeper()) {
        sleeper(ms);
        return;
    }
    if (ms <= 0)
        return;
    sleepUntil(Clock::now() + std::chrono::milliseconds(ms));
}

Sleeper setSleeper(Sleeper sleeper) {
    return std::exchange(installedSleeper(), std::move(sleeper));
}

} // namespace LinkSleep
