#include "sim/paper/PaperText.h"

namespace {

QString hex(uint value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString styleMark(PrintStyle style) {
    if (style.wide)
        return style.bold ? QStringLiteral("{WE}") : QStringLiteral("{W}");
    return style.bold ? QStringLiteral("{E}") : QStringLiteral("{N}");
}

QString cellsText(const QList<PaperCell>& cells) {
    QString out;
    PrintStyle style;
    for (const PaperCell& cell : cells) {
        if (!(cell.style == style))
            out += styleMark(cell.style);
        style = cell.style;
        if (cell.userDefined)
            out += QStringLiteral("{%1}").arg(hex(cell.code, 2));
        else if (cell.ch == QLatin1Char('{'))
            out += QStringLiteral("{{");
        else
            out += cell.ch;
    }
    return out;
}

QString dataLine(const QList<PaperCell>& cells) {
    const QString text = cellsText(cells);
    return text.startsWith(QLatin1Char('[')) ? QLatin1Char('[') + text : text;
}

QString imageText(const QByteArray& dots) {
    return QStringLiteral("[imagem %1 pontos crc %2]")
        .arg(dots.size())
        .arg(hex(qChecksum(dots), 4));
}

} // namespace

QString paperTextLine(const PaperLine& line) {
    switch (line.kind) {
    case PaperLine::Kind::Text:
        return dataLine(line.cells) + QLatin1Char('\n');
    case PaperLine::Kind::Authentication:
        return QStringLiteral("[autenticação %1] ").arg(line.note) + cellsText(line.cells) +
               QLatin1Char('\n');
    case PaperLine::Kind::Image:
        return imageText(line.dots) + QLatin1Char('\n');
    case PaperLine::Kind::Marker:
        return QStringLiteral("[%1]\n").arg(line.note.toLower());
    }
    return {};
}

QString paperText(const QList<PaperLine>& lines) {
    QString out;
    for (const PaperLine& line : lines)
        out += paperTextLine(line);
    return out;
}

QString unfinishedLineText(const PaperLine& line) {
    if (line.cells.isEmpty())
        return {};
    return QStringLiteral("[linha não terminada] ") + cellsText(line.cells) + QLatin1Char('\n');
}
