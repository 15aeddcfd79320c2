// Random bytes into the virtual printer, with the panel and the clock moved
// by the input too: no crash, no hang, the buffer never holds more than its
// size or less than nothing, and once input stops it drains: to at most an
// unfinished line or command, then, with line feeds to end that, to empty.
#include "sim/printer/VirtualPrinter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    VirtualPrinter printer(data[0] & 1 ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
    printer.setBufferSize(1024);
    // Input bytes 0xF8 to 0xFF also work the panel and the clock, so that
    // every state is reached while commands are half parsed.
    size_t start = 1;
    for (size_t i = 1; i <= size; ++i) {
        if (i < size && data[i] < 0xF8)
            continue;
        printer.receive(QByteArray(reinterpret_cast<const char*>(data + start),
                                   static_cast<qsizetype>(i - start)));
        if (i < size) {
            switch (data[i] & 7) {
            case 0:
                printer.setPaperOut(!printer.paperOut());
                break;
            case 1:
                printer.setOffline(!printer.offline());
                break;
            case 2:
                printer.setModel(printer.model() == PrinterModel::Compatible
                                     ? PrinterModel::KorvexaDual
                                     : PrinterModel::Compatible);
                break;
            case 3:
                printer.powerReset();
                break;
            default:
                printer.advance((data[i] & 7) * 250);
                break;
            }
        }
        if (printer.bufferFill() < 0 || printer.bufferFill() > printer.bufferSize())
            std::abort();
        start = i;
    }
    printer.setPaperOut(false);
    printer.setOffline(false);
    printer.advance(24 * 3600 * 1000);
    if (printer.bufferFill() > VirtualPrinter::MaxHeldBytes)
        std::abort(); // what is left could keep the host's next bytes out
    // Line feeds end any text, authentication or bit image (up to 65535 columns).
    for (int i = 0; i < 130 && printer.bufferFill() > 0; ++i) {
        printer.receive(QByteArray(i == 0 ? 1 : 512, '\n'));
        printer.advance(24 * 3600 * 1000);
    }
    if (printer.bufferFill() != 0 || printer.statusReply().size() != 9)
        std::abort();
    return 0;
}
