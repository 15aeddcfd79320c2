#include "sim/paper/PaperRenderer.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

using namespace PaperRenderer;

const QColor PaperColour(0xFB, 0xFA, 0xF4);
const QColor InkColour(0x1E, 0x1E, 0x24);
const QColor NoteColour(0x8A, 0x8A, 0x96);

constexpr int GlyphWidth = std::tuple_size_v<GlyphColumns>;
constexpr int GlyphHeight = 8;
// A monospaced font advances about 0.6 of its size. Text fills its cell's
// width, up to a size whose accents and descenders stay inside the line.
constexpr qreal MonoAdvance = 0.6;
constexpr qreal LargestFontDots = 16;
constexpr qreal NoteFontDots = 6;

// The character cells of one text line: where they start, in pixels, and
// how wide one character column is, in dots.
struct CellBand {
    qreal left;
    qreal top;
    qreal cellDots;
    qreal dot;
};

CellBand cellBand(const PaperLine& line, qreal left, qreal top, qreal dot) {
    return {left, top, qreal(PaperRoll::HeadDots) / std::max(1, line.columnsPerLine), dot};
}

QFont textFont(const CellBand& band, bool bold) {
    QFont font(QStringLiteral("Liberation Mono"));
    font.setStyleHint(QFont::Monospace);
    const qreal sizeDots = std::min(band.cellDots / MonoAdvance, LargestFontDots);
    font.setPixelSize(std::max(6, static_cast<int>(std::floor(sizeDots * band.dot))));
    font.setBold(bold);
    return font;
}

QFont noteFont(qreal dot, bool bold, bool italic) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(std::max(6, static_cast<int>(NoteFontDots * dot)));
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// A user character dot by dot, its bottom row on the baseline, starting on a
// whole dot. Expanded, every column is two dots wide; emphasized, every dot
// is struck again half a dot to its right, as the head does. In a cell
// narrower than the character (60 columns) the columns close up to fit.
void paintGlyph(QPainter& p, const PaperCell& cell, qreal leftDots, const CellBand& band) {
    const int widen = cell.style.wide ? 2 : 1;
    const qreal step = widen * std::min(1.0, band.cellDots / GlyphWidth);
    const qreal start = std::round(leftDots + (widen * band.cellDots - GlyphWidth * step) / 2);
    const qreal strike = (step + (cell.style.bold ? 0.5 : 0.0)) * band.dot;
    const qreal top = band.top + (BaselineDots - GlyphHeight) * band.dot;
    for (int c = 0; c < GlyphWidth; ++c)
        for (int r = 0; r < GlyphHeight; ++r)
            if (cell.columns[c] & (1 << r))
                p.fillRect(QRectF(band.left + (start + c * step) * band.dot, top + r * band.dot,
                                  strike, band.dot),
                           InkColour);
}

// A character of the font, centred in its cell on the baseline; expanded, the
// same glyph stretched to two cells.
void paintCharacter(QPainter& p, const PaperCell& cell, qreal leftDots, const CellBand& band,
                    const QFont& font) {
    p.save();
    p.setFont(font);
    p.setPen(InkColour);
    p.translate(band.left + leftDots * band.dot, band.top + BaselineDots * band.dot);
    if (cell.style.wide)
        p.scale(2.0, 1.0);
    const qreal advance = QFontMetricsF(font).horizontalAdvance(cell.ch);
    p.drawText(QPointF((band.cellDots * band.dot - advance) / 2, 0), QString(cell.ch));
    p.restore();
}

void paintCells(QPainter& p, const QList<PaperCell>& cells, const CellBand& band) {
    const QFont regular = textFont(band, false);
    const QFont bold = textFont(band, true);
    qreal left = 0;
    for (const PaperCell& cell : cells) {
        if (cell.userDefined)
            paintGlyph(p, cell, left, band);
        else if (cell.ch != QLatin1Char(' '))
            paintCharacter(p, cell, left, band, cell.style.bold ? bold : regular);
        left += band.cellDots * (cell.style.wide ? 2 : 1);
    }
}

void paintAuthentication(QPainter& p, const PaperLine& line, qreal x0, qreal y, qreal dot) {
    const QRectF box(x0, y + dot, PaperRoll::HeadDots * dot, (AuthenticationLineDots - 2) * dot);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(InkColour, 0.75 * dot));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box, 2 * dot, 2 * dot);
    p.restore();
    p.setFont(noteFont(dot, true, false));
    p.setPen(NoteColour);
    p.drawText(box.adjusted(3 * dot, dot, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("AUTENTICAÇÃO · %1").arg(line.note));
    const qreal textTop = y + (AuthenticationLineDots - TextLineDots - 3) * dot;
    paintCells(p, line.cells, cellBand(line, x0 + 3 * dot, textTop, dot));
}

// One head column per byte, bit 0 the top row.
void paintImage(QPainter& p, const QByteArray& dots, qreal x0, qreal y, qreal dot) {
    for (qsizetype c = 0; c < dots.size(); ++c) {
        const auto column = static_cast<uint8_t>(dots[c]);
        for (int r = 0; r < ImageLineDots; ++r)
            if (column & (1 << r))
                p.fillRect(QRectF(x0 + c * dot, y + r * dot, dot, dot), InkColour);
    }
}

void paintMarker(QPainter& p, const QString& note, qreal x0, qreal y, qreal dot) {
    const qreal width = PaperRoll::HeadDots * dot;
    const qreal mid = y + MarkerLineDots * dot / 2;
    p.setPen(QPen(NoteColour, 1, Qt::DashLine));
    p.drawLine(QPointF(x0, mid), QPointF(x0 + width, mid));
    const QFont font = noteFont(dot, false, true);
    p.setFont(font);
    const QString text = QStringLiteral(" %1 ").arg(note);
    const qreal textWidth = QFontMetricsF(font).horizontalAdvance(text);
    const QRectF label(x0 + width - textWidth - 4 * dot, y, textWidth, MarkerLineDots * dot);
    p.fillRect(label, PaperColour);
    p.setPen(NoteColour);
    p.drawText(label, Qt::AlignCenter, text);
}

} // namespace

namespace PaperRenderer {

qreal dotSize(qreal zoom) {
    return PixelsPerDot * zoom;
}

int paperWidth(qreal zoom) {
    return static_cast<int>(std::ceil((PaperRoll::HeadDots + 2 * MarginDots) * dotSize(zoom)));
}

int lineDots(const PaperLine& line) {
    switch (line.kind) {
    case PaperLine::Kind::Text:
        return TextLineDots;
    case PaperLine::Kind::Authentication:
        return AuthenticationLineDots;
    case PaperLine::Kind::Image:
        return ImageLineDots;
    case PaperLine::Kind::Marker:
        return MarkerLineDots;
    }
    return 0;
}

qreal lineHeight(const PaperLine& line, qreal zoom) {
    return lineDots(line) * dotSize(zoom);
}

void paintBackground(QPainter& painter, const QRectF& area) {
    painter.fillRect(area, PaperColour);
}

// Dots are filled without antialiasing, so each one is a crisp block.
void paintLine(QPainter& p, const PaperLine& line, qreal y, qreal zoom) {
    const qreal dot = dotSize(zoom);
    const qreal x0 = MarginDots * dot;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing);
    switch (line.kind) {
    case PaperLine::Kind::Text:
        paintCells(p, line.cells, cellBand(line, x0, y, dot));
        break;
    case PaperLine::Kind::Authentication:
        paintAuthentication(p, line, x0, y, dot);
        break;
    case PaperLine::Kind::Image:
        paintImage(p, line.dots, x0, y, dot);
        break;
    case PaperLine::Kind::Marker:
        paintMarker(p, line.note, x0, y, dot);
        break;
    }
    p.restore();
}

// The newest lines that fit a picture of MaxImageHeight, with a marker on
// top when older ones had to be left out.
static QList<PaperLine> linesThatFit(const QList<PaperLine>& lines, qreal zoom) {
    PaperLine marker;
    marker.kind = PaperLine::Kind::Marker;
    const qreal room = MaxImageHeight - 2 * MarginDots * dotSize(zoom) - lineHeight(marker, zoom);
    qreal height = 0;
    qsizetype first = lines.size();
    while (first > 0 && height + lineHeight(lines[first - 1], zoom) <= room)
        height += lineHeight(lines[--first], zoom);
    QList<PaperLine> kept = lines.mid(first);
    if (first > 0) {
        marker.note = QStringLiteral("%1 linhas anteriores não cabem na imagem").arg(first);
        kept.prepend(marker);
    }
    return kept;
}

QImage render(const QList<PaperLine>& all, qreal zoom) {
    const QList<PaperLine> lines = linesThatFit(all, zoom);
    qreal height = 2 * MarginDots * dotSize(zoom);
    for (const PaperLine& line : lines)
        height += lineHeight(line, zoom);
    QImage image(paperWidth(zoom), static_cast<int>(std::ceil(height)), QImage::Format_RGB32);
    QPainter painter(&image);
    paintBackground(painter, image.rect());
    qreal y = MarginDots * dotSize(zoom);
    for (const PaperLine& line : lines) {
        paintLine(painter, line, y, zoom);
        y += lineHeight(line, zoom);
    }
    return image;
}

} // namespace PaperRenderer
