// The virtual printer's paper drawn for people: whatever the printer was
// sent (text in every mode, user characters, bit images, authentications,
// the roll's markers) draws at any zoom and at the printer's dot pitch, one
// paper width wide.
#include "sim/paper/PaperDots.h"
#include "sim/paper/PaperRenderer.h"
#include "sim/printer/VirtualPrinter.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
// The drawing costs grow with the roll; the last lines show every kind.
constexpr int LinesDrawn = 60;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Fonts need a GUI application; no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_renderer";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    VirtualPrinter printer(data[0] & 1 ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
    printer.setBufferSize(1 << 20);
    printer.receive(QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)));
    printer.advance(24 * 3600 * 1000);
    const QList<PaperLine>& lines = printer.paper().lines();
    const qreal zoom = 0.5 + (data[0] >> 1) / 32.0; // 0.5 to 4.5
    const QList<PaperLine> last = lines.mid(std::max<qsizetype>(0, lines.size() - LinesDrawn));
    const QImage image = PaperRenderer::render(last, zoom);
    if (image.isNull() || image.width() != PaperRenderer::paperWidth(zoom))
        std::abort();
    const QImage dots = PaperDots::render(last);
    if (dots.isNull() || dots.width() != PaperDots::width())
        std::abort();
    return 0;
}
