#pragma once

#include <QByteArray>
#include <functional>

// How every command without a reply reaches the printer: the interface
// check, the serial ready check, the CTS override, the writes and the pauses,
// each command with its own options.
namespace Commands {

enum class Command {
    ResetFromMenu,
    ResetFromButton,
    DumpMode,
    Drawer,
    PrintMode,
    RtsSignalling,
    Authentication,
    PageSize,
    CharactersPerLine,
    PaperSensor,
    LineFeed,
    Keyboard,
    UserCharacterDownload,
    BitmapPrint,
};

struct SendOptions {
    // On the serial path, refuse while the printer's CTS line is off.
    bool requiresReadyPrinter = false;
    // On the serial path, switch CTS output flow control off around the
    // write and on at its end, so the bytes pass a printer that holds CTS off.
    bool ctsOverride = false;
    int serialPauseMs = 0;
    int parallelBytePauseMs = 0;
    int pauseAfterMs = 0;
    bool closesDialog = false;
};

SendOptions sendOptions(Command command);

enum class SendOutcome { Sent, NoInterface, PrinterOffline };

// Sends the already built bytes with the command's options. With no interface
// the warning of RequireInterface is shown; with the serial printer off line
// (for the commands that ask) the plain message "A Impressora está fora de
// linha". After a send, hideDialog runs if the command closes its dialog.
// An exception from the serial Write leaves at once: nothing after the write
// runs, and inside the CTS override the flow control stays off.
SendOutcome sendCommand(Command command, const QByteArray& bytes,
                        const std::function<void()>& hideDialog = {});

} // namespace Commands
