#pragma once

#include <QString>

#include <array>
#include <cstdint>

// Sending the loaded file to the printer in blocks, as "&Enviar" on the main
// window runs it. Everything runs on the GUI thread; the loop handles the
// event queue once per turn, so every other handler (the cancel request, the
// serial events, the timer, other commands) runs nested inside a send.

// Bytes per block.
inline constexpr int ChunkSize = 40;
// The largest file that may be sent, on either interface.
inline constexpr int32_t MaxSendSize = 20000;
// The block being sent, copied from the file before it goes to the link.
extern std::array<uint8_t, ChunkSize> ChunkBuffer;

// Whether a send may start: an interface is connected and its printer is
// ready. Otherwise tells the operator why (noInterfaceText when neither
// interface is connected) and returns false.
bool PrinterReadyToSend(const QString& noInterfaceText);

// The send loop: sends LoadedFile block by block, each when the printer is
// ready for it, until every byte has left, the operator cancels
// (LinkState.CancelRequested) or the interface the send started on is
// disconnected or switched. Refuses, with a message, when no file is loaded
// or the file is larger than MaxSendSize. A failing serial write ends the
// send and raises the port's exception.
void SendLoadedFile();
