#pragma once

#include "sim/paper/PaperModel.h"

#include <QImage>
#include <QList>

// The paper at the printer's own dot pitch: one pixel per dot of the head,
// laid out in dots as PaperRenderer lays it out, one bit a pixel: a dot is
// struck or not (the roll's notes, which print nothing, are in a small font
// on a dotted line). Characters are the
// printer's built-in glyphs (DotFont.h): expanded, every column is struck
// twice side by side; emphasized, every dot is struck again one dot to its
// right, as the head does. Nothing comes from the machine's fonts, so the
// same lines give the same pixels on every machine. Needs no QGuiApplication.
namespace PaperDots {

// The paper's width in pixels: the head's dots and the margins.
int width();
// Every line, with a short blank margin above and below; a caller that may
// hold a long roll draws it a page at a time (PaperPages.h).
QImage render(const QList<PaperLine>& lines);

} // namespace PaperDots
