#include "sim/serve/PaperSpool.h"

#include "sim/paper/PaperPages.h"
#include "sim/paper/PaperText.h"
#include "sim/printer/VirtualPrinter.h"

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

namespace {

std::unique_ptr<QTemporaryFile> newSpool() {
    return std::make_unique<QTemporaryFile>(
        QDir::temp().filePath(QStringLiteral("tellumo-printer-paper-XXXXXX")));
}

// Reads the roll back, line by line, as far as the snapshot goes.
template <typename Take> bool forEachLine(const PaperSpool::Snapshot& roll, Take take) {
    QDataStream in(roll.spool.get());
    for (qint64 i = 0; i < roll.lines && in.status() == QDataStream::Ok; ++i)
        if (!take(readLine(in)))
            return false;
    return in.status() == QDataStream::Ok;
}

} // namespace

PaperSpool::PaperSpool(VirtualPrinter* printer, QObject* parent)
    : QObject(parent), printer_(printer), file_(newSpool()) {
    connect(printer_, &VirtualPrinter::printed, this, &PaperSpool::append);
    connect(printer_, &VirtualPrinter::paperCleared, this, &PaperSpool::tear);
}

bool PaperSpool::open(QString* error) {
    if (file_->open())
        return true;
    *error = QStringLiteral("temporary file for the paper: %1").arg(file_->errorString());
    return false;
}

void PaperSpool::append(const PaperLine& line) {
    QDataStream out(file_.get());
    writeLine(out, line);
    ++lines_;
}

// A snapshot being written keeps the old spool open, and so its lines,
// until it is done.
void PaperSpool::tear() {
    auto fresh = newSpool();
    if (!fresh->open())
        return printer_->logWarning(
            QStringLiteral("Papel não recomeçado: %1").arg(fresh->errorString()),
            QStringLiteral("spool-failed"));
    file_ = std::move(fresh);
    lines_ = 0;
}

PaperSpool::Snapshot PaperSpool::snapshot(QString* error) {
    file_->flush();
    auto spool = std::make_shared<QFile>(file_->fileName());
    if (!spool->open(QIODevice::ReadOnly)) {
        *error = spool->errorString();
        return {};
    }
    return {std::move(spool), lines_, printer_->unfinishedLine()};
}

bool PaperSpool::writeText(const Snapshot& roll, const QString& path, QString* error) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    const bool read = forEachLine(roll, [&out](const PaperLine& line) {
        return out.write(paperTextLine(line).toUtf8()) >= 0;
    });
    out.write(unfinishedLineText(roll.unfinished).toUtf8());
    if (read && out.commit())
        return true;
    *error = read ? out.errorString() : QStringLiteral("the paper's spool could not be read back");
    return false;
}

bool PaperSpool::writePng(const Snapshot& roll, const QString& path, int pixelsPerDot, int* pages,
                          QString* error) {
    PaperPages png(path, pixelsPerDot);
    const bool read = forEachLine(roll, [&png](const PaperLine& line) { return png.add(line); });
    const bool ok = png.finish(*pages) && read;
    *pages = png.pages();
    if (!ok)
        *error = QStringLiteral("cannot write %1").arg(path);
    return ok;
}
