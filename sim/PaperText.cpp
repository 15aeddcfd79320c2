#include "sim/PaperText.h"

namespace {

QString hex(uint value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString cellsText(const QList<PaperCell>& cells) {
    QString out;
    for (const PaperCell& cell : cells)
        out += cell.userDefined ? QStringLiteral("{%1}").arg(hex(cell.code, 2)) : QString(cell.ch);
    return out;
}

QString imageText(const QByteArray& dots) {
    return QStringLiteral("[imagem %1 pontos crc %2]")
        .arg(dots.size())
        .arg(hex(qChecksum(dots), 4));
}

} // namespace

QString paperText(const QList<PaperLine>& lines) {
    QString out;
    for (const PaperLine& line : lines) {
        switch (line.kind) {
        case PaperLine::Kind::Text:
            out += cellsText(line.cells);
            break;
        case PaperLine::Kind::Authentication:
            out += QStringLiteral("[autenticação %1] ").arg(line.note) + cellsText(line.cells);
            break;
        case PaperLine::Kind::Image:
            out += imageText(line.dots);
            break;
        case PaperLine::Kind::Marker:
            continue;
        }
        out += QLatin1Char('\n');
    }
    return out;
}
