#include "sim/PaperSpool.h"

#include "sim/PaperPages.h"
#include "sim/PaperText.h"
#include "sim/VirtualPrinter.h"

#include <QDataStream>
#include <QDir>
#include <QSaveFile>

namespace {

enum CellFlag : quint8 { Wide = 1, Bold = 2, UserDefined = 4 };

void writeLine(QDataStream& out, const PaperLine& line) {
    out << quint8(line.kind) << quint8(line.columnsPerLine) << line.note << line.dots
        << qint32(line.cells.size());
    for (const PaperCell& cell : line.cells) {
        const quint8 flags = (cell.style.wide ? Wide : 0) | (cell.style.bold ? Bold : 0) |
                             (cell.userDefined ? UserDefined : 0);
        out << quint16(cell.ch.unicode()) << cell.code << flags;
        if (cell.userDefined)
            out.writeRawData(reinterpret_cast<const char*>(cell.columns.data()), 9);
    }
}

PaperLine readLine(QDataStream& in) {
    PaperLine line;
    quint8 kind = 0, columns = 0;
    qint32 cells = 0;
    in >> kind >> columns >> line.note >> line.dots >> cells;
    line.kind = PaperLine::Kind(kind);
    line.columnsPerLine = columns;
    for (qint32 i = 0; i < cells && in.status() == QDataStream::Ok; ++i) {
        PaperCell cell;
        quint16 ch = 0;
        quint8 flags = 0;
        in >> ch >> cell.code >> flags;
        cell.ch = QChar(ch);
        cell.style = PrintStyle{bool(flags & Wide), bool(flags & Bold)};
        cell.userDefined = flags & UserDefined;
        if (cell.userDefined)
            in.readRawData(reinterpret_cast<char*>(cell.columns.data()), 9);
        line.cells.append(cell);
    }
    return line;
}

} // namespace

PaperSpool::PaperSpool(VirtualPrinter* printer, QObject* parent)
    : QObject(parent), printer_(printer),
      file_(QDir::temp().filePath(QStringLiteral("tellumo-printer-paper-XXXXXX"))) {
    connect(printer_, &VirtualPrinter::printed, this, &PaperSpool::append);
    connect(printer_, &VirtualPrinter::paperCleared, this, &PaperSpool::tear);
}

bool PaperSpool::open(QString* error) {
    if (file_.open())
        return true;
    *error = QStringLiteral("temporary file for the paper: %1").arg(file_.errorString());
    return false;
}

void PaperSpool::append(const PaperLine& line) {
    QDataStream out(&file_);
    writeLine(out, line);
    ++lines_;
}

void PaperSpool::tear() {
    file_.resize(0);
    file_.seek(0);
    lines_ = 0;
}

// Reads the spool back through a second handle, so appending goes on unmoved.
template <typename Take> bool PaperSpool::forEachLine(Take take, QString* error) {
    file_.flush();
    QFile spool(file_.fileName());
    if (!spool.open(QIODevice::ReadOnly)) {
        *error = spool.errorString();
        return false;
    }
    QDataStream in(&spool);
    for (qint64 i = 0; i < lines_ && in.status() == QDataStream::Ok; ++i)
        if (!take(readLine(in)))
            break;
    return true;
}

bool PaperSpool::writeText(const QString& path, QString* error) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    const bool read = forEachLine(
        [&out](const PaperLine& line) { return out.write(paperTextLine(line).toUtf8()) >= 0; },
        error);
    out.write(unfinishedLineText(printer_->unfinishedLine()).toUtf8());
    if (read && out.commit())
        return true;
    if (error->isEmpty())
        *error = out.errorString();
    return false;
}

bool PaperSpool::writePng(const QString& path, int pixelsPerDot, QString* error) {
    PaperPages pages(path, pixelsPerDot);
    if (!forEachLine([&pages](const PaperLine& line) { return pages.add(line); }, error))
        return false;
    const bool ok = pages.finish(pngPages_);
    pngPages_ = pages.pages();
    if (!ok)
        *error = QStringLiteral("cannot write %1").arg(path);
    return ok;
}
