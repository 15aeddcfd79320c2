#pragma once

class TCustomComPort;

// What the serial dialog sets on ComPort1 beyond the component's defaults
// (9600 8N1, no flow control, DTR and RTS off): the read time-outs the
// printer's replies need and the events the program watches.
void applyPrinterLineSettings(TCustomComPort& port);
