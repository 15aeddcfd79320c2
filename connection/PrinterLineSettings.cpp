#include "connection/PrinterLineSettings.h"

#include "link/comport/ComPort.h"

void applyPrinterLineSettings(TCustomComPort& port) {
    port.Timeouts().SetReadInterval(3000);
    port.Timeouts().SetReadTotalMultiplier(1000);
    port.Timeouts().SetReadTotalConstant(3000);
    port.SetEvents(TComEvents::All().Exclude(evRing));
}
