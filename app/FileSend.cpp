#include "app/FileSend.h"

#include "app/LoadedFile.h"
#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "windowkit/Messages.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>

std::array<uint8_t, ChunkSize> ChunkBuffer{};

namespace {

// How often a parallel send that waits on the busy line looks at it again.
constexpr int BusyLookMs = 5;

enum class Interface { Serial, Parallel };

// Serial wins if both flags are ever set, as for every sender.
Interface connectedInterface() {
    return LinkState.SerialConnected ? Interface::Serial : Interface::Parallel;
}

// A send that started on one interface ends when that interface is
// disconnected or another takes over: its blocks must not go out somewhere
// the operator did not send them.
bool stillOn(Interface started) {
    if (started == Interface::Serial)
        return LinkState.SerialConnected;
    return LinkState.ParallelConnected && !LinkState.SerialConnected;
}

bool verificaBusy() {
    return LinkDevices.VerificaBusyChecked && LinkDevices.VerificaBusyChecked();
}

void setSendLed(bool on) {
    if (LinkDevices.ComLed4)
        LinkDevices.ComLed4->SetOn(on);
}

// Whether the printer takes a block now: on the serial line CTS on and the
// last block out of the transmitter; on the parallel port the busy line
// clear, when "Verifica Busy" asks for it to be watched.
bool readyForBlock() {
    if (LinkState.SerialConnected)
        return LinkState.CtsActive && !LinkState.TxPending;
    PollParallelBusy();
    return !(verificaBusy() && LinkState.PrinterBusy);
}

// The events at the head of each turn. After a turn that could not send,
// nothing can change until an event comes (a serial event, a timer tick, the
// operator), so the loop blocks for it instead of turning round at full
// speed. The parallel busy line is the one thing no event announces; while
// the loop waits on it, a short timer brings the next look.
class TurnEvents {
public:
    TurnEvents() { busyLook_.setInterval(BusyLookMs); }

    void handle() {
        QCoreApplication::processEvents(waiting_ ? QEventLoop::WaitForMoreEvents
                                                 : QEventLoop::AllEvents);
    }
    void sent() {
        waiting_ = false;
        busyLook_.stop();
    }
    void couldNotSend(Interface on) {
        waiting_ = true;
        if (on == Interface::Parallel)
            busyLook_.start();
    }

private:
    QTimer busyLook_;
    bool waiting_ = false;
};

// Sends the next block from pos: 40 bytes, or what is left of a block that
// went out short, so the rest follows before the next block starts. Returns
// how many bytes left.
int sendBlock(const QByteArray& file, int pos) {
    const int n = std::min(ChunkSize - pos % ChunkSize, int(file.size()) - pos);
    std::copy_n(file.constData() + pos, n, ChunkBuffer.begin());
    return SendBytes(ChunkBuffer.data(), n);
}

} // namespace

bool PrinterReadyToSend(const QString& noInterfaceText) {
    if (!LinkState.SerialConnected && !LinkState.ParallelConnected) {
        Messages::warningBox(noInterfaceText);
        return false;
    }
    if (LinkState.SerialConnected) {
        if (LinkState.CtsActive)
            return true;
        Messages::plainMessage(QStringLiteral("Impressora fora de linha"));
        return false;
    }
    PollParallelFault();
    PollParallelBusy();
    if (LinkState.PrinterFault || (verificaBusy() && LinkState.PrinterBusy)) {
        Messages::plainMessage(QStringLiteral("Impressora sem papel ou OFF-Line"));
        return false;
    }
    return true;
}

void SendLoadedFile() {
    if (!LoadedFile.FileLoaded) {
        Messages::plainMessage(QStringLiteral(" Nenhum arquivo selecionado !! "));
        return;
    }
    if (LoadedFile.FileSize > MaxSendSize) {
        Messages::plainMessage(
            QStringLiteral("O Arquivo é muito grande para ser enviado pela serial"));
        return;
    }
    // The bytes are taken once: a file loaded while this one is sent does
    // not get mixed into it.
    const QByteArray file(reinterpret_cast<const char*>(LoadedFile.FileBuffer.data()),
                          qsizetype(LoadedFile.FileSize));
    const Interface started = connectedInterface();
    LinkState.TxPending = false;
    int pos = 0;
    const auto ledOff = qScopeGuard([] { setSendLed(false); });
    TurnEvents events;
    while (pos < file.size() && !LinkState.CancelRequested) {
        events.handle();
        if (!stillOn(started))
            break;
        setSendLed(true);
        if (!readyForBlock()) {
            events.couldNotSend(started);
            continue;
        }
        pos += sendBlock(file, pos);
        events.sent();
    }
}
