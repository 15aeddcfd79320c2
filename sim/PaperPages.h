#pragma once

#include "sim/PaperModel.h"

#include <QList>
#include <QString>

// A roll of any length as PNG pages: FILE, then FILE-2, FILE-3 … (receipt.png,
// receipt-2.png), each of whole lines and at most PageDots of paper long, so
// memory stays that of one page however long the roll. Lines are added one at
// a time as they are read.
class PaperPages {
public:
    // About a hundred text lines, with the margins.
    static constexpr int PageDots = 2024;

    PaperPages(const QString& path, qreal zoom) : path_(path), zoom_(zoom) {}

    // False once a page could not be written.
    bool add(const PaperLine& line);
    // Writes the last page (the only one, empty, for an empty roll) and
    // removes the pages after it that an earlier save of more pages left.
    bool finish(int previousPages);
    int pages() const { return pages_; }
    static QString pagePath(const QString& path, int page);

private:
    bool writePage();

    QString path_;
    qreal zoom_;
    QList<PaperLine> page_;
    qreal height_ = 0;
    int pages_ = 0;
    bool ok_ = true;
};
