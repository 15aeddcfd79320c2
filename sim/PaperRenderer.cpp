#include "sim/PaperRenderer.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

const QColor PaperColour(0xFB, 0xFA, 0xF4);
const QColor InkColour(0x1E, 0x1E, 0x24);
const QColor NoteColour(0x8A, 0x8A, 0x96);

QFont textFont(qreal cellWidth, bool bold) {
    QFont font(QStringLiteral("Liberation Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(std::max(6, static_cast<int>(std::floor(cellWidth / 0.6))));
    font.setBold(bold);
    return font;
}

// A 9 x 8 user character, dot by dot, centred in its cell.
void paintGlyph(QPainter& p, const GlyphColumns& columns, const QRectF& cell) {
    const qreal dx = cell.width() * 0.8 / 9;
    const qreal dy = cell.height() * 0.62 / 8;
    const qreal left = cell.left() + (cell.width() - 9 * dx) / 2;
    const qreal top = cell.top() + (cell.height() - 8 * dy) / 2;
    const qreal size = std::min(dx, dy) * 1.05;
    for (int c = 0; c < 9; ++c)
        for (int r = 0; r < 8; ++r)
            if (columns[c] & (1 << r))
                p.drawEllipse(QRectF(left + c * dx + (dx - size) / 2,
                                     top + r * dy + (dy - size) / 2, size, size));
}

void paintCells(QPainter& p, const QList<PaperCell>& cells, int columnsPerLine, qreal x0,
                const QRectF& band) {
    const qreal cellWidth = (PaperRoll::HeadDots * band.height() / PaperRenderer::TextLineDots) /
                            std::max(1, columnsPerLine);
    qreal x = x0;
    for (const PaperCell& cell : cells) {
        const qreal w = cellWidth * (cell.style.wide ? 2 : 1);
        const QRectF rect(x, band.top(), w, band.height());
        if (cell.userDefined) {
            p.setPen(Qt::NoPen);
            p.setBrush(InkColour);
            paintGlyph(p, cell.columns, rect);
        } else if (cell.ch != QLatin1Char(' ')) {
            p.save();
            p.setPen(InkColour);
            p.setFont(textFont(cellWidth, cell.style.bold));
            // Expanded characters are the same glyph stretched to two cells.
            p.translate(rect.left(), rect.top());
            if (cell.style.wide)
                p.scale(2.0, 1.0);
            p.drawText(QRectF(0, 0, cellWidth, rect.height()), Qt::AlignCenter, QString(cell.ch));
            p.restore();
        }
        x += w;
    }
}

} // namespace

namespace PaperRenderer {

int paperWidth(qreal scale) {
    return static_cast<int>(std::ceil((PaperRoll::HeadDots + 2 * MarginDots) * scale));
}

qreal lineHeight(const PaperLine& line, qreal scale) {
    switch (line.kind) {
    case PaperLine::Kind::Text:
        return TextLineDots * scale;
    case PaperLine::Kind::Authentication:
        return 2.5 * TextLineDots * scale;
    case PaperLine::Kind::Image:
        return ImageLineDots * scale;
    case PaperLine::Kind::Marker:
        return 16 * scale;
    }
    return 0;
}

void paintBackground(QPainter& painter, const QRectF& area) {
    painter.fillRect(area, PaperColour);
}

void paintLine(QPainter& p, const PaperLine& line, qreal y, qreal scale) {
    const qreal x0 = MarginDots * scale;
    const qreal width = PaperRoll::HeadDots * scale;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    switch (line.kind) {
    case PaperLine::Kind::Text:
        paintCells(p, line.cells, line.columnsPerLine, x0,
                   QRectF(x0, y, width, TextLineDots * scale));
        break;
    case PaperLine::Kind::Authentication: {
        const QRectF box(x0, y + 2 * scale, width, 2.5 * TextLineDots * scale - 4 * scale);
        p.setPen(QPen(InkColour, 1.5 * scale));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(box, 4 * scale, 4 * scale);
        QFont caption(QStringLiteral("Liberation Sans"));
        caption.setPixelSize(std::max(6, static_cast<int>(10 * scale)));
        caption.setBold(true);
        p.setFont(caption);
        p.setPen(NoteColour);
        p.drawText(box.adjusted(6 * scale, 2 * scale, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("AUTENTICAÇÃO · %1").arg(line.note));
        paintCells(
            p, line.cells, line.columnsPerLine, x0 + 6 * scale,
            QRectF(x0, box.bottom() - (TextLineDots + 4) * scale, width, TextLineDots * scale));
        break;
    }
    case PaperLine::Kind::Image: {
        p.setRenderHint(QPainter::Antialiasing, false);
        for (int c = 0; c < line.dots.size(); ++c) {
            const auto column = static_cast<uint8_t>(line.dots[c]);
            for (int r = 0; r < 8; ++r)
                if (column & (1 << r))
                    p.fillRect(QRectF(x0 + c * scale, y + r * scale, scale, scale), InkColour);
        }
        break;
    }
    case PaperLine::Kind::Marker: {
        const qreal mid = y + 8 * scale;
        p.setPen(QPen(NoteColour, 1, Qt::DashLine));
        p.drawLine(QPointF(x0, mid), QPointF(x0 + width, mid));
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(std::max(6, static_cast<int>(10 * scale)));
        font.setItalic(true);
        p.setFont(font);
        const QString text = QStringLiteral(" %1 ").arg(line.note);
        const qreal tw = QFontMetricsF(font).horizontalAdvance(text);
        const QRectF label(x0 + width - tw - 8 * scale, y, tw, 16 * scale);
        p.fillRect(label, PaperColour);
        p.setPen(NoteColour);
        p.drawText(label, Qt::AlignCenter, text);
        break;
    }
    }
    p.restore();
}

QImage render(const QList<PaperLine>& lines, qreal scale) {
    qreal height = 2 * MarginDots * scale;
    for (const PaperLine& line : lines)
        height += lineHeight(line, scale);
    QImage image(paperWidth(scale), static_cast<int>(std::ceil(height)), QImage::Format_RGB32);
    QPainter painter(&image);
    paintBackground(painter, image.rect());
    qreal y = MarginDots * scale;
    for (const PaperLine& line : lines) {
        paintLine(painter, line, y, scale);
        y += lineHeight(line, scale);
    }
    return image;
}

} // namespace PaperRenderer
