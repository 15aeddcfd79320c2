// The lines a port name opens: the one place that knows every kind of line,
// above them all, so that the component itself reaches them only through
// the contract.
#include "link/comport/PortMap.h"
#include "link/comport/SerialLine.h"
#include "link/comport/lines/network/NetworkAddress.h"
#include "link/comport/lines/network/NetworkLine.h"
#include "link/comport/lines/tty/TtyLine.h"
#include "link/comport/lines/usb/UsbPrinterLine.h"
#include "link/comport/lines/virtual/VirtualLine.h"

std::unique_ptr<SerialLine> OpenSerialLine(const QString& portName, int& winError,
                                           LineOpening* opening) {
    const QString device = PortMap::device(portName);
    if (device.isEmpty()) {
        winError = WinError::FileNotFound;
        return nullptr;
    }
    if (NetworkAddress::isUrl(device))
        return NetworkLine::open(device, winError, opening);
    if (device == QLatin1String(PortMap::VirtualDevice)) {
        const auto line = PortMap::virtualLine(portName);
        if (!line) {
            winError = WinError::FileNotFound;
            return nullptr;
        }
        return line->openPort(winError);
    }
    if (UsbPrinterLine::isUsbPrinter(device))
        return UsbPrinterLine::open(device, winError, opening);
    return TtyLine::open(device, winError, opening);
}
