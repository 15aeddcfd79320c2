#include "sim/paper/PaperDots.h"

#include "sim/paper/DotFont.h"
#include "sim/paper/PaperRenderer.h"

#include <algorithm>
#include <span>

namespace {

using namespace PaperRenderer;
using namespace PaperDots;

constexpr int HeadDots = PaperRoll::HeadDots;
constexpr int UserWidth = std::tuple_size_v<GlyphColumns>;
constexpr int UserHeight = 8;

enum Colour : uint { Paper, Ink };

// The picture's pixels, one bit each, the leftmost the highest; a dot off
// the picture is dropped.
class Canvas {
public:
    explicit Canvas(QImage& image)
        : bits_(image.bits()), stride_(image.bytesPerLine()), width_(image.width()),
          height_(image.height()) {}
    void dot(int x, int y, Colour colour = Ink) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_)
            return;
        uchar& byte = bits_[y * stride_ + x / 8];
        const auto bit = uchar(0x80 >> (x % 8));
        byte = colour == Ink ? byte | bit : byte & ~bit;
    }
    void fill(int x, int y, int width, int height, Colour colour = Ink) {
        for (int row = y; row < y + height; ++row)
            for (int column = x; column < x + width; ++column)
                dot(column, row, colour);
    }

private:
    uchar* bits_;
    qsizetype stride_;
    int width_;
    int height_;
};

int floorDiv(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// How the head strikes a glyph's columns: column c from x + c * widen * num /
// den, so a glyph wider than its cell closes up (num < den), at least one dot
// wide, and once more a dot to the right when emphasized.
struct Strike {
    int widen = 1;
    bool bold = false;
    int num = 1;
    int den = 1;
};

template <typename Column>
void strike(Canvas& canvas, std::span<const Column> columns, int rows, int x, int top, Strike how) {
    for (int c = 0; c < int(columns.size()); ++c) {
        const int from = x + c * how.widen * how.num / how.den;
        const int to =
            std::max(from + 1, x + (c + 1) * how.widen * how.num / how.den) + (how.bold ? 1 : 0);
        for (int r = 0; r < rows; ++r)
            if (columns[c] >> r & 1)
                for (int d = from; d < to; ++d)
                    canvas.dot(d, top + r);
    }
}

// Where a glyph `drawn` dots wide starts, to the nearest dot, centred in the
// cell that starts at character column k: cells are HeadDots / columns wide.
int centred(int k, int widen, int columns, int drawn) {
    return floorDiv(2 * k * HeadDots + widen * HeadDots - columns * drawn + columns, 2 * columns);
}

void paintCells(Canvas& canvas, const QList<PaperCell>& cells, int columns, int x0, int top) {
    columns = std::max(1, columns);
    const bool narrow = HeadDots < UserWidth * columns;
    const DotFont& font = narrow ? DotFont::condensed() : DotFont::regular();
    const int den = UserWidth * columns;
    const int num = std::min(den, HeadDots);
    int k = 0;
    for (const PaperCell& cell : cells) {
        const int widen = cell.style.wide ? 2 : 1;
        if (cell.userDefined) {
            const std::span<const uint8_t> glyph(cell.columns);
            const int drawn = UserWidth * widen * num / den;
            strike(canvas, glyph, UserHeight, x0 + centred(k, widen, columns, drawn),
                   top + BaselineDots - UserHeight, {widen, cell.style.bold, num, den});
        } else if (cell.ch != QLatin1Char(' ')) {
            strike(canvas, font.glyph(cell.ch), font.height(),
                   x0 + centred(k, widen, columns, font.width() * widen),
                   top + BaselineDots - font.ascent(), {widen, cell.style.bold});
        }
        k += widen;
    }
}

void writeNote(Canvas& canvas, const QString& text, int x, int top) {
    const DotFont& font = DotFont::note();
    for (const QChar ch : text) {
        strike(canvas, font.glyph(ch), font.height(), x, top, {});
        x += font.width();
    }
}

// A box with its corners cut, the device above the text.
void paintAuthentication(Canvas& canvas, const PaperLine& line, int x0, int y) {
    const int right = x0 + HeadDots - 1;
    const int top = y + 1;
    const int bottom = y + AuthenticationLineDots - 2;
    canvas.fill(x0 + 1, top, HeadDots - 2, 1);
    canvas.fill(x0 + 1, bottom, HeadDots - 2, 1);
    canvas.fill(x0, top + 1, 1, bottom - top - 1);
    canvas.fill(right, top + 1, 1, bottom - top - 1);
    writeNote(canvas, QStringLiteral("AUTENTICAÇÃO · %1").arg(line.note), x0 + 3, top + 1);
    paintCells(canvas, line.cells, line.columnsPerLine, x0 + 3,
               y + AuthenticationLineDots - TextLineDots - 3);
}

void paintImage(Canvas& canvas, const QByteArray& dots, int x0, int y) {
    for (qsizetype c = 0; c < dots.size(); ++c)
        for (int r = 0; r < ImageLineDots; ++r)
            if (uint8_t(dots[c]) >> r & 1)
                canvas.dot(x0 + int(c), y + r);
}

// A dotted line across, the note on its right end.
void paintMarker(Canvas& canvas, const QString& note, int x0, int y) {
    for (int x = 0; x < HeadDots; x += 3)
        canvas.dot(x0 + x, y + MarkerLineDots / 2);
    const QString text = QStringLiteral(" %1 ").arg(note);
    const int width = int(text.size()) * DotFont::note().width();
    const int left = x0 + HeadDots - width - 4;
    canvas.fill(left, y, width, MarkerLineDots, Paper);
    writeNote(canvas, text, left, y + (MarkerLineDots - DotFont::note().height()) / 2);
}

void paintLine(Canvas& canvas, const PaperLine& line, int y) {
    const int x0 = MarginDots;
    switch (line.kind) {
    case PaperLine::Kind::Text:
        paintCells(canvas, line.cells, line.columnsPerLine, x0, y);
        break;
    case PaperLine::Kind::Authentication:
        paintAuthentication(canvas, line, x0, y);
        break;
    case PaperLine::Kind::Image:
        paintImage(canvas, line.dots, x0, y);
        break;
    case PaperLine::Kind::Marker:
        paintMarker(canvas, line.note, x0, y);
        break;
    }
}

} // namespace

namespace PaperDots {

int width() {
    return HeadDots + 2 * MarginDots;
}

QImage render(const QList<PaperLine>& lines) {
    int height = 2 * MarginDots;
    for (const PaperLine& line : lines)
        height += lineDots(line);
    QImage image(width(), height, QImage::Format_Mono);
    if (image.isNull())
        return image;
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(Paper);
    Canvas canvas(image);
    int y = MarginDots;
    for (const PaperLine& line : lines) {
        paintLine(canvas, line, y);
        y += lineDots(line);
    }
    return image;
}

} // namespace PaperDots
