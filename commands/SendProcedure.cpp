#include "commands/SendProcedure.h"

#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "windowkit/Messages.h"

namespace Commands {

namespace {
void pause(int ms) {
    if (ms > 0)
        LinkSleep::Sleep(ms);
}
} // namespace

SendOptions sendOptions(Command command) {
    switch (command) {
    case Command::ResetFromMenu:
        return {.serialPauseMs = 10};
    case Command::ResetFromButton:
        return {.requiresReadyPrinter = true, .ctsOverride = true, .serialPauseMs = 5};
    case Command::DumpMode:
        return {};
    case Command::Drawer:
        return {.requiresReadyPrinter = true, .parallelBytePauseMs = 1};
    case Command::PrintMode:
        return {.closesDialog = true};
    case Command::RtsSignalling:
        return {.ctsOverride = true, .closesDialog = true};
    case Command::Authentication:
        return {.serialPauseMs = 10, .parallelBytePauseMs = 1};
    case Command::PageSize:
        return {.ctsOverride = true, .closesDialog = true};
    case Command::CharactersPerLine:
        return {.closesDialog = true};
    case Command::PaperSensor:
        return {.pauseAfterMs = 200, .closesDialog = true};
    case Command::LineFeed:
        return {.closesDialog = true};
    case Command::Keyboard:
        return {.closesDialog = true};
    case Command::UserCharacterDownload:
        return {.serialPauseMs = 10, .closesDialog = true};
    case Command::BitmapPrint:
        return {.serialPauseMs = 10};
    }
    return {};
}

SendOutcome sendCommand(Command command, const QByteArray& bytes,
                        const std::function<void()>& hideDialog) {
    const SendOptions options = sendOptions(command);
    if (!RequireInterface())
        return SendOutcome::NoInterface;

    if (LinkState.SerialConnected) {
        if (options.requiresReadyPrinter && !LinkState.CtsActive) {
            Messages::plainMessage(QStringLiteral("A Impressora está fora de linha"));
            return SendOutcome::PrinterOffline;
        }
        SerialPortAccess& port = *LinkDevices.ComPort1;
        if (options.ctsOverride)
            port.SetOutCTSFlow(false);
        port.Write(bytes.constData(), static_cast<int>(bytes.size()));
        pause(options.serialPauseMs);
        if (options.ctsOverride)
            port.SetOutCTSFlow(true);
    } else {
        for (const char b : bytes) {
            ParallelWriteByte(static_cast<uint8_t>(b));
            pause(options.parallelBytePauseMs);
        }
    }
    pause(options.pauseAfterMs);

    if (options.closesDialog && hideDialog)
        hideDialog();
    return SendOutcome::Sent;
}

} // namespace Commands
