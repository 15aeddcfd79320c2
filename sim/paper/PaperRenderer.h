#pragma once

#include "sim/paper/PaperModel.h"

#include <QImage>
#include <QList>

class QPainter;

// Draws the paper roll for people. Everything is laid out in dots of the
// print head, one square pitch across and down: a text cell is the head's
// width divided by the characters per line, a user character takes nine
// dots by eight, a bit image one dot per head column and eight rows. Text is
// drawn in a monospaced font fitted to its cell, authentication lines boxed,
// the roll's markers as grey notes. At zoom 1 (the window's) a dot is
// PixelsPerDot pixels square. Needs a QGuiApplication (for the fonts).
namespace PaperRenderer {

inline constexpr int PixelsPerDot = 2;
inline constexpr int MarginDots = 12;
inline constexpr int TextLineDots = 20;
// From a text line's top to its baseline, on which a user character's
// bottom row stands.
inline constexpr int BaselineDots = 15;
inline constexpr int ImageLineDots = 8;
inline constexpr int AuthenticationLineDots = 50;
inline constexpr int MarkerLineDots = 10;
// The tallest picture render() makes, in pixels: a long roll at 2x would
// otherwise ask for gigabytes, and many viewers stop at this height anyway.
inline constexpr int MaxImageHeight = 32767;

// Pixels per dot at the zoom.
qreal dotSize(qreal zoom);
int paperWidth(qreal zoom);
// The height of one line on the paper, in dots.
int lineDots(const PaperLine& line);
// The height of one line on the paper, in pixels.
qreal lineHeight(const PaperLine& line, qreal zoom);
// Paints the paper's background for the rectangle, then nothing else.
void paintBackground(QPainter& painter, const QRectF& area);
// Paints one line with its top at y.
void paintLine(QPainter& painter, const PaperLine& line, qreal y, qreal zoom);
// The roll with a short blank margin above and below: all of it, or the
// newest lines that fit MaxImageHeight under a marker that counts the rest.
QImage render(const QList<PaperLine>& lines, qreal zoom = 1.0);

} // namespace PaperRenderer
