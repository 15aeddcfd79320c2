#include "sim/PaperModel.h"

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

QChar decodeWindows1252(uint8_t code) {
    static constexpr char16_t high[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    if (code >= 0x80 && code < 0xA0)
        return QChar(high[code - 0x80]);
    return QChar(static_cast<char16_t>(code));
}
