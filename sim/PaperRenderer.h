#pragma once

#include "sim/PaperModel.h"

#include <QImage>
#include <QList>

class QPainter;

// Draws the paper roll for people: text in a monospaced font in the cell grid
// of the width it was printed at, user characters and bit images dot by dot,
// authentication lines boxed, and the roll's markers as grey notes. Sizes are
// in the head's dots; scale gives pixels per dot. Needs a QGuiApplication
// (for the fonts).
namespace PaperRenderer {

inline constexpr int MarginDots = 16;
inline constexpr int TextLineDots = 24;
inline constexpr int ImageLineDots = 8;

int paperWidth(qreal scale);
// The height of one line on the paper, in pixels.
qreal lineHeight(const PaperLine& line, qreal scale);
// Paints the paper's background for the rectangle, then nothing else.
void paintBackground(QPainter& painter, const QRectF& area);
// Paints one line with its top at y.
void paintLine(QPainter& painter, const PaperLine& line, qreal y, qreal scale);
// The whole roll, with a short blank margin above and below.
QImage render(const QList<PaperLine>& lines, qreal scale = 1.0);

} // namespace PaperRenderer
