#include "sim/paper/PaperModel.h"

QString PaperLine::text() const {
    QString out;
    out.reserve(cells.size());
    for (const PaperCell& cell : cells)
        out += cell.userDefined ? QChar(0xFFFC) : cell.ch;
    return out;
}

QList<TextRun> PaperLine::runs() const {
    QList<TextRun> out;
    for (const PaperCell& cell : cells) {
        const QChar ch = cell.userDefined ? QChar(0xFFFC) : cell.ch;
        if (out.isEmpty() || !(out.last().style == cell.style))
            out.append({QString(), cell.style});
        out.last().text += ch;
    }
    return out;
}

void PaperRoll::append(PaperLine line) {
    if (lines_.size() >= MaxLines) {
        lines_.removeFirst();
        ++tornOff_;
    }
    lines_.append(std::move(line));
}

void PaperRoll::clear() {
    lines_.clear();
    tornOff_ = 0;
}
