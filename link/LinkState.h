#pragma once

#include <cstdint>

// The one process-wide record of the connected interface and of what the
// program last learned about the printer. Every field is read and written on
// the GUI thread only; serial events reach it through the port's hand-over.
struct TLinkState {
    bool SerialConnected = false;
    bool ParallelConnected = false;
    bool PrinterFault = false;
    bool PrinterBusy = false;
    bool FaultBlinkPhase = false;
    bool CancelRequested = false;
    uint16_t LptBasePort = 0x378;
    bool CompatibleMode = false;
    bool TxPending = false;
    bool CtsActive = false;
};
static_assert(sizeof(bool) == 1, "the link state's flags are one byte wide");

extern TLinkState LinkState;
