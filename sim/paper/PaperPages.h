#pragma once

#include "sim/paper/PaperModel.h"

#include <QImage>
#include <QList>
#include <QString>

#include <algorithm>

// A roll of any length as PNG pages: FILE, then FILE-2, FILE-3 … (receipt.png,
// receipt-2.png), each of whole lines and at most PageDots of paper long, so
// memory stays that of one page however long the roll. Lines are added one at
// a time as they are read. At one pixel per dot a page is the paper at the
// printer's dot pitch in its built-in glyphs (PaperDots.h), the same file on
// every machine; at more, the paper as the printer's window draws it
// (PaperRenderer.h), in the machine's fonts.
class PaperPages {
public:
    // About a hundred text lines, with the margins.
    static constexpr int PageDots = 2024;
    // The window's look at twice its zoom.
    static constexpr int LargestScale = 4;

    // pixelsPerDot from 1 to LargestScale.
    PaperPages(const QString& path, int pixelsPerDot)
        : path_(path), scale_(std::clamp(pixelsPerDot, 1, LargestScale)) {}

    // False once a page could not be written.
    bool add(const PaperLine& line);
    // Writes the last page (the only one, empty, for an empty roll) and
    // removes the pages after it that an earlier save of more pages left.
    bool finish(int previousPages);
    int pages() const { return pages_; }
    static QString pagePath(const QString& path, int page);

private:
    QImage draw() const;
    bool writePage();

    QString path_;
    int scale_;
    QList<PaperLine> page_;
    int dots_ = 0;
    int pages_ = 0;
    bool ok_ = true;
};
