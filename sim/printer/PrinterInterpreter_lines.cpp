// The lines: how the interpreter's characters become text lines, feeds,
// dump lines and markers queued for the head. Every job takes along the
// buffer bytes it frees.
#include "sim/printer/PrinterInterpreter.h"

#include "protocol/CommandBytes.h"
#include "protocol/Windows1252.h"
#include "sim/printer/HexDump.h"

namespace {

constexpr uint8_t FirstUserChar = Commands::FirstUserCharacter;

} // namespace

PaperLine PrinterInterpreter::emptyLine(PaperLine::Kind kind) const {
    PaperLine line;
    line.kind = kind;
    line.columnsPerLine = columns_;
    return line;
}

PaperCell PrinterInterpreter::makeCell(uint8_t code, PrintStyle style) const {
    PaperCell cell;
    cell.code = code;
    const QChar ch = Windows1252::decodeByte(code);
    // The five codes the code page leaves unassigned print as a visible mark.
    cell.ch = ch.isPrint() ? ch : QChar(QChar::ReplacementCharacter);
    cell.style = style;
    if (code >= FirstUserChar && code <= FirstUserChar + 15) {
        if (const auto& glyph = userChars_[code - FirstUserChar]) {
            cell.userDefined = true;
            cell.columns = *glyph;
        }
    }
    return cell;
}

// A full line prints, and the character starts the next one.
void PrinterInterpreter::putCharacter(uint8_t code) {
    const int width = style_.wide ? 2 : 1;
    if (pendingColumns_ + width > columns_)
        printPending();
    pending_.append(makeCell(code, style_));
    pendingColumns_ += width;
}

PaperLine PrinterInterpreter::unfinishedLine() const {
    PaperLine line = emptyLine();
    line.cells = pending_;
    return line;
}

void PrinterInterpreter::printPending() {
    if (pending_.isEmpty())
        return;
    PaperLine line = unfinishedLine();
    pending_.clear();
    pendingColumns_ = 0;
    unitBytes_ += pendingBytes_;
    pendingBytes_ = 0;
    queueLine(std::move(line), true);
}

void PrinterInterpreter::queueLine(PaperLine line, bool takesPaper) {
    if (takesPaper)
        linesOnPage_ = (linesOnPage_ + 1) % pageLines_;
    queueJob(Job{Job::Kind::Line, std::move(line), 0, 0});
}

// The bytes of what is being acted on go with the first job it makes.
void PrinterInterpreter::queueJob(Job job) {
    job.bytes += unitBytes_;
    unitBytes_ = 0;
    queue_.push(std::move(job));
}

// Prints the text waiting, if any, with the first of the feeds.
void PrinterInterpreter::feedLines(int count) {
    if (count > 0 && !pending_.isEmpty()) {
        printPending();
        --count;
    }
    queueFeed(count);
}

void PrinterInterpreter::queueFeed(int count) {
    if (count <= 0)
        return;
    linesOnPage_ = (linesOnPage_ + count) % pageLines_;
    queueJob(Job{Job::Kind::Feed, emptyLine(), count, 0});
}

void PrinterInterpreter::formFeed() {
    printPending();
    feedLines((pageLines_ - linesOnPage_) % pageLines_);
    linesOnPage_ = 0;
    PaperLine marker = emptyLine(PaperLine::Kind::Marker);
    marker.note = QStringLiteral("Fim de página");
    queueLine(std::move(marker), false);
}

void PrinterInterpreter::flushDump() {
    if (dumpBytes_.isEmpty())
        return;
    const QString dump = hexDumpLine(dumpBytes_, DumpBytesPerLine);
    unitBytes_ = int(dumpBytes_.size());
    dumpBytes_.clear();
    PaperLine line = emptyLine();
    for (QChar ch : dump) {
        PaperCell cell;
        cell.ch = ch;
        cell.code = ch.unicode() < 0x100 ? static_cast<uint8_t>(ch.unicode()) : '?';
        line.cells.append(cell);
    }
    queueLine(std::move(line), true);
    settle();
}

void PrinterInterpreter::resetModes() {
    style_ = PrintStyle{};
    columns_ = DefaultColumns;
    pageLines_ = DefaultPageLines;
    linesOnPage_ = 0;
    paperSensor_ = true;
    keyboard_ = true;
    rtsSignalling_ = 0;
}
