// What a program writes to tellumo-printer's pseudo-terminal, taken as its
// server takes it: reads of at most 512 bytes and never more than the
// printer's buffer has room for, the printer printing while the rest waits in
// the terminal. Whatever the bytes, every one reaches the printer exactly
// once, none is dropped, and room comes back: a printer whose buffer stayed
// full would stop the writing program for ever.
#include "sim/printer/VirtualPrinter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr qsizetype ReadChunk = 512;
// Long enough to print a full buffer at the slowest speed.
constexpr qint64 PrintAllMs = 3600 * 1000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    VirtualPrinter printer(data[0] & 1 ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
    qsizetype taken = 0;
    QObject::connect(&printer, &VirtualPrinter::logged, [&](const PrinterLogEntry& entry) {
        if (entry.kind == PrinterLogEntry::Kind::Received)
            taken += entry.bytes.size();
    });
    // The first byte also sets how much the terminal hands over per read.
    const qsizetype step = 1 + (data[0] >> 1) * 4;
    const QByteArray stream(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    qsizetype at = 0;
    while (at < stream.size()) {
        if (printer.room() == 0) {
            printer.advance(PrintAllMs);
            if (printer.room() == 0)
                std::abort(); // stuck full: the writer would wait for ever
        }
        const qsizetype n =
            std::min({qsizetype(printer.room()), ReadChunk, step, stream.size() - at});
        printer.receive(stream.mid(at, n));
        at += n;
        printer.advance(n % 7);
    }
    if (printer.lostBytes() != 0 || taken != stream.size())
        std::abort();
    printer.advance(PrintAllMs);
    if (printer.statusReply().size() != 9)
        std::abort();
    return 0;
}
