#include "sim/VirtualPrinter.h"

#include "commands/CommandBytes.h"
#include "commands/Windows1252.h"
#include "sim/HexDump.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace Letter = Commands::Letter;

namespace {

constexpr uint8_t ReplyLead = 0x06;
constexpr int DumpBytesPerLine = 8;
constexpr uint8_t FirstUserChar = Commands::FirstUserCharacter;

QString hexByte(uint8_t b) {
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

QString escName(uint8_t letter) {
    if (letter >= 0x21 && letter < 0x7F)
        return QStringLiteral("ESC %1").arg(QChar(letter));
    return QStringLiteral("ESC 0x%1").arg(hexByte(letter));
}

QString lineCount(int lines) {
    return lines == 1 ? QStringLiteral("1 linha") : QStringLiteral("%1 linhas").arg(lines);
}

QString onOff(bool on) {
    return on ? QStringLiteral("ligado") : QStringLiteral("desligado");
}

// The authentication devices, in the order of their parameter values.
const char* const DeviceNames[] = {"Título", "Título e Fita Detalhe", "Título e Documento"};

} // namespace

const QByteArray VirtualPrinter::CompatibleModelName = QByteArrayLiteral("Korvex BM  40/48");
const QByteArray VirtualPrinter::DualModelName = QByteArrayLiteral("Korvexa Dual  60");
const QByteArray VirtualPrinter::FirmwareName = QByteArrayLiteral("Firmware 1.00 VP");

VirtualPrinter::VirtualPrinter(PrinterModel model, QObject* parent)
    : QObject(parent), model_(model) {}

QString VirtualPrinter::modelText(PrinterModel model) {
    return QString::fromLatin1(model == PrinterModel::Compatible ? CompatibleModelName
                                                                 : DualModelName);
}

// ---- the host's side -------------------------------------------------------

void VirtualPrinter::receive(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    lastReceiveMs_ = now_;
    PrinterLogEntry entry{now_, PrinterLogEntry::Kind::Received, bytes, QString()};
    emit logged(entry);
    int lostNow = 0;
    for (char c : bytes) {
        if (bufferFill() >= bufferSize_) {
            ++lostNow;
            continue;
        }
        take(static_cast<uint8_t>(c));
    }
    // Every loss is counted and logged: a host that ignores the ready line
    // must see how much it lost.
    if (lostNow > 0) {
        lostBytes_ += lostNow;
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Buffer cheio: %1 byte(s) perdido(s)").arg(lostNow));
    }
    updateReadiness();
    changed();
}

bool VirtualPrinter::ready() const {
    if (nearlyFull_)
        return false;
    return rtsSignalling_ == 0 ? !offline_ : authenticationsWaiting_ == 0;
}

uint8_t VirtualPrinter::parallelStatus() const {
    uint8_t s = 0x47; // acknowledge idle high, the unused low bits read 1
    if (!fault())
        s |= 0x08;
    if (!offline_)
        s |= 0x10;
    if (paperSensed())
        s |= 0x20;
    if (!busy())
        s |= 0x80;
    return s;
}

int VirtualPrinter::bufferFill() const {
    return queuedBytes_ + pendingBytes_;
}

// ---- the parser --------------------------------------------------------------

void VirtualPrinter::take(uint8_t byte) {
    if (dumpMode_) {
        takeDump(byte);
        return;
    }
    switch (parse_) {
    case Parse::Text:
        ++pendingBytes_;
        takeText(byte);
        break;
    case Parse::Escape:
        ++pendingBytes_;
        takeEscape(byte);
        break;
    case Parse::Parameters:
        ++pendingBytes_;
        takeParameter(byte);
        break;
    case Parse::Authentication:
        takeAuthenticationText(byte);
        break;
    case Parse::ImageData:
        takeImageData(byte);
        break;
    }
}

void VirtualPrinter::takeText(uint8_t byte) {
    switch (byte) {
    case Commands::Esc:
        parse_ = Parse::Escape;
        return;
    case '\n':
        if (pending_.isEmpty())
            queueBlankLines(1);
        else
            printPending();
        return;
    case '\r':
        finishCommand();
        return;
    case '\f':
        formFeed();
        return;
    case '\t': {
        // Blanks up to the next multiple of eight columns, as text files expect.
        const int width = style_.wide ? 2 : 1;
        const int stop = std::min((pendingColumns_ / 8 + 1) * 8, columns_);
        const int blanks = std::max(1, (stop - pendingColumns_) / width);
        for (int i = 0; i < blanks; ++i)
            putCharacter(' ');
        return;
    }
    default:
        break;
    }
    if (byte < 0x20 || byte == 0x7F) {
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Caractere de controle 0x%1 ignorado").arg(hexByte(byte)),
             QByteArray(1, static_cast<char>(byte)));
        finishCommand();
        return;
    }
    putCharacter(byte);
}

void VirtualPrinter::takeEscape(uint8_t byte) {
    command_ = commandFor(byte, model_);
    if (!command_) {
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Sequência desconhecida %1 ignorada").arg(escName(byte)),
             QByteArray(1, Commands::Esc) + static_cast<char>(byte));
        parse_ = Parse::Text;
        if (byte == Commands::Esc) { // a second ESC starts the next command
            parse_ = Parse::Escape;
            return;
        }
        finishCommand();
        return;
    }
    params_.clear();
    parse_ = Parse::Parameters;
    if (command_->parameters == 0)
        runCommand();
}

void VirtualPrinter::takeParameter(uint8_t byte) {
    params_.append(static_cast<char>(byte));
    if (params_.size() == command_->parameters)
        runCommand();
}

void VirtualPrinter::runCommand() {
    parse_ = Parse::Text;
    (this->*command_->run)();
}

void VirtualPrinter::takeAuthenticationText(uint8_t byte) {
    if (byte == Commands::AuthenticationEnd) {
        ++pendingBytes_;
        endAuthentication();
        return;
    }
    if (authText_.size() == Commands::MaxAuthenticationText) {
        // Without its line feed the text would swallow everything after it.
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Autenticação com mais de %1 caracteres: encerrada sem LF")
                 .arg(Commands::MaxAuthenticationText));
        endAuthentication();
        take(byte);
        return;
    }
    ++pendingBytes_;
    authText_.append(makeCell(byte, PrintStyle{}));
}

void VirtualPrinter::endAuthentication() {
    parse_ = Parse::Text;
    if (!authDevice_) {
        authText_.clear();
        finishCommand();
        return;
    }
    PaperLine line;
    line.kind = PaperLine::Kind::Authentication;
    line.columnsPerLine = columns_;
    line.cells = std::move(authText_);
    line.note = QString::fromUtf8(DeviceNames[*authDevice_]);
    authText_.clear();
    // Counted from its end only: a ready line that went off at its start
    // would hold back its own text.
    ++authenticationsWaiting_;
    queueLine(std::move(line), true);
}

void VirtualPrinter::takeImageData(uint8_t byte) {
    const int width = imageDouble_ ? 1 : 2;
    if (imageRejected_) {
        // Dropped as it comes: none of it takes room in the buffer.
    } else if (imageDots_.size() + width <= PaperRoll::HeadDots) {
        ++pendingBytes_;
        for (int i = 0; i < width; ++i)
            imageDots_.append(static_cast<char>(byte));
    } else if (!imageClipped_) {
        imageClipped_ = true;
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Imagem mais larga que a cabeça: colunas excedentes descartadas"));
    }
    if (--imageRemaining_ > 0)
        return;
    parse_ = Parse::Text;
    if (imageRejected_)
        return;
    PaperLine line;
    line.kind = PaperLine::Kind::Image;
    line.columnsPerLine = columns_;
    line.dots = imageDots_;
    imageDots_.clear();
    queueLine(std::move(line), true);
}

void VirtualPrinter::takeDump(uint8_t byte) {
    ++pendingBytes_;
    dumpBytes_.append(static_cast<char>(byte));
    if (dumpBytes_.size() == DumpBytesPerLine)
        flushDump();
}

// ---- the commands ------------------------------------------------------------

const VirtualPrinter::CommandRow* VirtualPrinter::commandFor(uint8_t letter, PrinterModel model) {
    using V = VirtualPrinter;
    static const CommandRow bothDialects[] = {
        {Letter::Reset, 0, &V::runReset},
        {Letter::DumpMode, 0, &V::runDumpMode},
        {Letter::PrintNormal, 0, &V::runPrintMode},
        {Letter::PrintExpanded, 1, &V::runPrintMode},
        {Letter::PrintEmphasized, 0, &V::runPrintMode},
        {Letter::RtsSignalling, 1, &V::runRtsSignalling},
        {Letter::Authentication, 1, &V::runAuthentication},
        {Letter::PageSize, 1, &V::runPageSize},
        {Letter::CharactersPerLine, 1, &V::runCharactersPerLine},
        {Letter::PaperSensorOn, 0, &V::runPaperSensor},
        {Letter::PaperSensorOff, 0, &V::runPaperSensor},
        {Letter::Keyboard, 1, &V::runKeyboard},
        {Letter::Identification, 1, &V::runIdentification},
        {Letter::UserCharacterDownload, 10, &V::runUserCharacter}, // code and nine columns
        {Letter::BitmapPrint, 3, &V::runBitImage},                 // density and column count
    };
    static const CommandRow normalDialect[] = {
        {Letter::StatusRequest, 0, &V::runStatusRequest},
        {Letter::Drawer, int(Commands::DrawerParameters.size()), &V::runDrawer},
        {Letter::LineFeed, 1, &V::runLineFeed},
    };
    static const CommandRow compatibleDialect[] = {
        {Letter::StatusRequestCompatible, 0, &V::runStatusRequest},
        {Letter::DrawerCompatible, 1, &V::runDrawer},
        {Letter::LineFeedCompatible, 2, &V::runLineFeed},
    };
    const auto find = [letter](std::span<const CommandRow> rows) -> const CommandRow* {
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [letter](const CommandRow& r) { return r.letter == letter; });
        return row == rows.end() ? nullptr : &*row;
    };
    if (const CommandRow* row = find(bothDialects))
        return row;
    return find(model == PrinterModel::Compatible ? std::span<const CommandRow>(compatibleDialect)
                                                  : std::span<const CommandRow>(normalDialect));
}

QByteArray VirtualPrinter::commandBytes() const {
    return QByteArray(1, Commands::Esc) + static_cast<char>(command_->letter) + params_;
}

std::optional<int> VirtualPrinter::pick(int index, std::span<const uint8_t> values,
                                        const QString& command) {
    const auto found = std::find(values.begin(), values.end(), param(index));
    if (found != values.end())
        return static_cast<int>(found - values.begin());
    reject(index, command);
    return std::nullopt;
}

void VirtualPrinter::reject(int index, const QString& command) {
    note(PrinterLogEntry::Kind::Warning,
         QStringLiteral("%1 (%2): parâmetro 0x%3 inválido, comando ignorado")
             .arg(command, escName(command_->letter), hexByte(param(index))),
         commandBytes());
    finishCommand();
}

void VirtualPrinter::done(const QString& what) {
    note(PrinterLogEntry::Kind::Command, what, commandBytes());
    finishCommand();
}

void VirtualPrinter::runReset() {
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Reset"), commandBytes());
    if (!pending_.isEmpty())
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Reset: %1 caractere(s) não impresso(s) descartado(s)")
                 .arg(pending_.size()));
    pending_.clear();
    pendingColumns_ = 0;
    resetModes();
    queueMarker(QStringLiteral("Reset"));
}

void VirtualPrinter::runDumpMode() {
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Modo dump ligado"), commandBytes());
    printPending();
    queueMarker(QStringLiteral("Modo dump"));
    dumpMode_ = true;
}

void VirtualPrinter::runPrintMode() {
    if (command_->letter == Letter::PrintNormal) {
        style_ = PrintStyle{};
        return done(QStringLiteral("Modo normal"));
    }
    if (command_->letter == Letter::PrintEmphasized) {
        style_ = PrintStyle{false, true};
        return done(QStringLiteral("Modo enfatizado"));
    }
    const auto variant = pick(0, Commands::ExpandedVariants, QStringLiteral("Modo expandido"));
    if (!variant)
        return;
    style_ = PrintStyle{true, *variant == 1};
    done(style_.bold ? QStringLiteral("Modo expandido negrito")
                     : QStringLiteral("Modo expandido normal"));
}

void VirtualPrinter::runRtsSignalling() {
    const auto option = pick(0, Commands::RtsOptions, QStringLiteral("Sinalização do RTS"));
    if (!option)
        return;
    rtsSignalling_ = *option;
    done(rtsSignalling_ ? QStringLiteral("Sinalização do RTS: autenticação")
                        : QStringLiteral("Sinalização do RTS: on/off-line"));
}

void VirtualPrinter::runAuthentication() {
    authDevice_ = pick(0, Commands::AuthenticationDevices, QStringLiteral("Autenticação"));
    authText_.clear();
    // A rejected command's text goes with it, up to its line feed.
    parse_ = Parse::Authentication;
    if (!authDevice_)
        return;
    printPending();
    note(PrinterLogEntry::Kind::Command,
         QStringLiteral("Autenticação: %1").arg(QString::fromUtf8(DeviceNames[*authDevice_])),
         commandBytes());
}

void VirtualPrinter::runPageSize() {
    const uint8_t lines = param(0);
    if (lines < Commands::MinPageSize || lines > Commands::MaxPageSize)
        return reject(0, QStringLiteral("Tamanho de página"));
    pageLines_ = lines;
    linesOnPage_ %= pageLines_;
    done(QStringLiteral("Página de %1").arg(lineCount(pageLines_)));
}

void VirtualPrinter::runCharactersPerLine() {
    const auto index =
        pick(0, Commands::CharactersPerLineCodes, QStringLiteral("Caracteres por linha"));
    if (!index)
        return;
    columns_ = Commands::CharactersPerLineWidths[*index];
    if (pendingColumns_ > columns_)
        printPending();
    done(QStringLiteral("%1 caracteres por linha").arg(columns_));
}

void VirtualPrinter::runPaperSensor() {
    paperSensor_ = command_->letter == Letter::PaperSensorOn;
    noPaperWarned_ = false;
    done(QStringLiteral("Sensor de papel %1").arg(onOff(paperSensor_)));
}

void VirtualPrinter::runLineFeed() {
    if (command_->letter == Letter::LineFeedCompatible &&
        !pick(0, std::array{Commands::LineFeedFunction}, QStringLiteral("Avanço de linhas")))
        return;
    lastLineFeed_ = param(static_cast<int>(params_.size()) - 1);
    note(PrinterLogEntry::Kind::Command,
         QStringLiteral("Avanço de %1").arg(lineCount(lastLineFeed_)), commandBytes());
    feedLines(lastLineFeed_);
}

void VirtualPrinter::runKeyboard() {
    const auto state = pick(0, Commands::KeyboardStates, QStringLiteral("Teclado"));
    if (!state)
        return;
    keyboard_ = *state == 0;
    done(QStringLiteral("Teclado %1").arg(onOff(keyboard_)));
}

// The drawer's parameters (which output, how long a pulse) are the drawer's
// business: any value opens it.
void VirtualPrinter::runDrawer() {
    const QString what = command_->letter == Letter::Drawer
                             ? QStringLiteral("Gaveta (saída %1, pulso %2/%3)")
                                   .arg(param(0))
                                   .arg(param(1))
                                   .arg(param(2))
                             : QStringLiteral("Gaveta (pulso %1)").arg(param(0));
    note(PrinterLogEntry::Kind::Command, what, commandBytes());
    queueJob(Job{Job::Kind::Drawer, {}, 0});
}

void VirtualPrinter::runStatusRequest() {
    done(QStringLiteral("Pedido de status"));
    reply(statusReply());
}

void VirtualPrinter::runIdentification() {
    const auto selector = pick(0, std::array{Commands::ModelSelector, Commands::FirmwareSelector},
                               QStringLiteral("Pedido de identificação"));
    if (!selector)
        return;
    if (*selector == 0) {
        done(QStringLiteral("Pedido do modelo"));
        reply(identificationReply(model_ == PrinterModel::Compatible ? CompatibleModelName
                                                                     : DualModelName));
    } else {
        done(QStringLiteral("Pedido do firmware"));
        reply(identificationReply(FirmwareName));
    }
}

void VirtualPrinter::runUserCharacter() {
    const uint8_t code = param(0);
    if (code < FirstUserChar || code > FirstUserChar + 15)
        return reject(0, QStringLiteral("Caractere programável"));
    GlyphColumns columns;
    for (int i = 0; i < 9; ++i)
        columns[i] = param(1 + i);
    userChars_[code - FirstUserChar] = columns;
    done(QStringLiteral("Caractere 0x%1 programado").arg(hexByte(code)));
}

// The column data follow the command; a rejected density drops them unprinted.
void VirtualPrinter::runBitImage() {
    const int count = param(1) | (param(2) << 8);
    const auto density = pick(0, Commands::BitImageDensities, QStringLiteral("Imagem"));
    imageRejected_ = !density;
    imageDouble_ = density == 1;
    if (density)
        note(PrinterLogEntry::Kind::Command,
             QStringLiteral("Imagem de %1 coluna(s), densidade %2")
                 .arg(count)
                 .arg(imageDouble_ ? QStringLiteral("dupla") : QStringLiteral("simples")),
             commandBytes());
    if (count == 0) {
        if (density)
            finishCommand();
        return;
    }
    if (density)
        printPending();
    imageDots_.clear();
    imageClipped_ = false;
    imageRemaining_ = count;
    parse_ = Parse::ImageData;
}

// ---- the paper ---------------------------------------------------------------

void VirtualPrinter::flushDump() {
    if (dumpBytes_.isEmpty())
        return;
    const QString dump = hexDumpLine(dumpBytes_, DumpBytesPerLine);
    dumpBytes_.clear();
    PaperLine line;
    line.columnsPerLine = columns_;
    for (QChar ch : dump) {
        PaperCell cell;
        cell.ch = ch;
        cell.code = ch.unicode() < 0x100 ? static_cast<uint8_t>(ch.unicode()) : '?';
        line.cells.append(cell);
    }
    queueLine(std::move(line), true);
}

// Bytes of a command that printed nothing leave the buffer with whatever is
// queued before them, or at once when nothing is.
void VirtualPrinter::finishCommand() {
    if (!pending_.isEmpty())
        return;
    if (!queue_.empty()) {
        queue_.back().bytes += pendingBytes_;
        queuedBytes_ += pendingBytes_;
    }
    pendingBytes_ = 0;
}

PaperCell VirtualPrinter::makeCell(uint8_t code, PrintStyle style) const {
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

void VirtualPrinter::putCharacter(uint8_t code) {
    const int width = style_.wide ? 2 : 1;
    if (pendingColumns_ + width > columns_) {
        // The line is full: it prints, and this character starts the next one.
        --pendingBytes_;
        printPending();
        ++pendingBytes_;
    }
    pending_.append(makeCell(code, style_));
    pendingColumns_ += width;
}

void VirtualPrinter::printPending() {
    if (pending_.isEmpty())
        return;
    PaperLine line;
    line.columnsPerLine = columns_;
    line.cells = pending_;
    pending_.clear();
    pendingColumns_ = 0;
    queueLine(std::move(line), true);
}

void VirtualPrinter::queueLine(PaperLine line, bool takesPaper) {
    if (takesPaper)
        linesOnPage_ = (linesOnPage_ + 1) % pageLines_;
    queueJob(Job{Job::Kind::Line, std::move(line), 0});
}

void VirtualPrinter::queueJob(Job job) {
    // A job carries the bytes received since the previous one, except the
    // text still waiting for its line to end.
    job.bytes = pending_.isEmpty() ? pendingBytes_ : 0;
    queuedBytes_ += job.bytes;
    pendingBytes_ -= job.bytes;
    queue_.push_back(std::move(job));
}

void VirtualPrinter::queueBlankLines(int count) {
    for (int i = 0; i < count; ++i) {
        PaperLine line;
        line.columnsPerLine = columns_;
        queueLine(std::move(line), true);
    }
}

void VirtualPrinter::queueMarker(const QString& text) {
    PaperLine line;
    line.kind = PaperLine::Kind::Marker;
    line.columnsPerLine = columns_;
    line.note = text;
    queueLine(std::move(line), false);
}

// Prints the text waiting, if any, with the first of the feeds.
void VirtualPrinter::feedLines(int count) {
    if (count == 0) {
        finishCommand();
        return;
    }
    if (!pending_.isEmpty()) {
        printPending();
        --count;
    }
    if (count > 0)
        queueBlankLines(count);
    finishCommand();
}

void VirtualPrinter::formFeed() {
    printPending();
    queueBlankLines((pageLines_ - linesOnPage_) % pageLines_);
    linesOnPage_ = 0;
    queueMarker(QStringLiteral("Fim de página"));
}

void VirtualPrinter::resetModes() {
    style_ = PrintStyle{};
    columns_ = DefaultColumns;
    pageLines_ = DefaultPageLines;
    linesOnPage_ = 0;
    paperSensor_ = true;
    keyboard_ = true;
    rtsSignalling_ = 0;
}

// ---- time and printing ------------------------------------------------------

qint64 VirtualPrinter::lineMs() const {
    return std::max<qint64>(1, std::llround(1000.0 / linesPerSecond_));
}

void VirtualPrinter::advance(qint64 ms) {
    if (ms <= 0)
        return;
    now_ += ms;
    const auto before = std::tuple(ready(), fault(), bufferFill(), drawerOpen_);
    if (drawerOpen_ && now_ >= drawerClosesAt_) {
        drawerOpen_ = false;
        note(PrinterLogEntry::Kind::Command, QStringLiteral("Gaveta fechada"));
    }
    // A dump line waits for eight bytes; when the host has stopped, the rest prints.
    if (dumpMode_ && !dumpBytes_.isEmpty() && now_ - lastReceiveMs_ >= DumpIdleFlushMs)
        flushDump();
    printQueue(ms);
    updateReadiness();
    if (dirtyPaper_ || before != std::tuple(ready(), fault(), bufferFill(), drawerOpen_))
        changed();
}

bool VirtualPrinter::hasWork() const {
    return (!queue_.empty() && !fault()) || drawerOpen_ || (dumpMode_ && !dumpBytes_.isEmpty());
}

void VirtualPrinter::printQueue(qint64 ms) {
    if (fault() || queue_.empty()) {
        credit_ = 0;
        return;
    }
    credit_ += ms;
    while (!queue_.empty()) {
        Job& job = queue_.front();
        const bool takesTime =
            job.kind == Job::Kind::Line && job.line.kind != PaperLine::Kind::Marker;
        const qint64 cost = takesTime ? lineMs() : 0;
        if (cost > credit_)
            break;
        credit_ -= cost;
        queuedBytes_ -= job.bytes;
        printJob(job);
        queue_.pop_front();
    }
    if (queue_.empty())
        credit_ = 0;
}

// With the paper out and the sensor off nothing stops the head: what it
// prints is lost, and the log says so once until paper is back.
void VirtualPrinter::printJob(Job& job) {
    if (job.kind == Job::Kind::Drawer) {
        openDrawer();
        return;
    }
    if (job.line.kind == PaperLine::Kind::Authentication)
        --authenticationsWaiting_;
    if (paperOut_ && job.line.kind != PaperLine::Kind::Marker) {
        if (!noPaperWarned_)
            note(PrinterLogEntry::Kind::Warning,
                 QStringLiteral("Sem papel e sensor desligado: impressão perdida"));
        noPaperWarned_ = true;
        return;
    }
    paper_.append(std::move(job.line));
    dirtyPaper_ = true;
}

void VirtualPrinter::openDrawer() {
    drawerOpen_ = true;
    drawerClosesAt_ = now_ + DrawerOpenMs;
    ++drawerOpenings_;
    PaperLine marker;
    marker.kind = PaperLine::Kind::Marker;
    marker.columnsPerLine = columns_;
    marker.note = QStringLiteral("Gaveta aberta");
    paper_.append(std::move(marker));
    dirtyPaper_ = true;
}

// ---- replies, panel, notifications -------------------------------------------

QByteArray VirtualPrinter::statusReply() const {
    QByteArray r(1, static_cast<char>(ReplyLead));
    r += paperSensed() ? 'S' : 'P';
    r += offline_ ? 'F' : 'L';
    r += drawerOpen_ ? 'A' : 'F';
    r += paperSensor_ ? '1' : '0';
    r += keyboard_ ? '1' : '0';
    r += rtsSignalling_ ? '1' : '0';
    r += nearlyFull_ ? 'C' : (bufferFill() > 0 ? 'D' : 'V');
    r += dumpMode_ ? 'D' : 'N';
    return r;
}

QByteArray VirtualPrinter::identificationReply(const QByteArray& text) const {
    QByteArray r(1, static_cast<char>(ReplyLead));
    r += text.left(16).leftJustified(16, ' ');
    return r;
}

void VirtualPrinter::reply(const QByteArray& bytes) {
    emit logged(PrinterLogEntry{now_, PrinterLogEntry::Kind::Sent, bytes, QString()});
    emit replied(bytes);
}

void VirtualPrinter::note(PrinterLogEntry::Kind kind, const QString& text,
                          const QByteArray& bytes) {
    emit logged(PrinterLogEntry{now_, kind, bytes, text});
}

void VirtualPrinter::setPaperOut(bool out) {
    noPaperWarned_ = false;
    setPanelSwitch(paperOut_, out, QStringLiteral("Sem papel"), QStringLiteral("Papel colocado"));
}

void VirtualPrinter::setOffline(bool offline) {
    setPanelSwitch(offline_, offline, QStringLiteral("Off-line"), QStringLiteral("On-line"));
}

void VirtualPrinter::setPanelSwitch(bool& state, bool on, const QString& onText,
                                    const QString& offText) {
    if (state == on)
        return;
    state = on;
    note(PrinterLogEntry::Kind::Command, on ? onText : offText);
    updateReadiness();
    changed();
}

void VirtualPrinter::pressFeedKey() {
    if (!keyboard_) {
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Tecla de avanço ignorada: teclado desligado"));
        return;
    }
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Tecla de avanço"));
    queueBlankLines(1);
    updateReadiness();
    changed();
}

void VirtualPrinter::setModel(PrinterModel model) {
    if (model_ == model)
        return;
    model_ = model;
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Modelo: %1").arg(modelText(model)));
    changed();
}

void VirtualPrinter::setLinesPerSecond(double lines) {
    linesPerSecond_ = std::clamp(lines, 0.1, 1000.0);
    changed();
}

void VirtualPrinter::setBufferSize(int bytes) {
    bufferSize_ = std::clamp(bytes, 1024, 1 << 20);
    updateReadiness();
    changed();
}

void VirtualPrinter::powerReset() {
    queue_.clear();
    queuedBytes_ = 0;
    pendingBytes_ = 0;
    credit_ = 0;
    pending_.clear();
    pendingColumns_ = 0;
    authText_.clear();
    authenticationsWaiting_ = 0;
    imageDots_.clear();
    dumpBytes_.clear();
    parse_ = Parse::Text;
    dumpMode_ = false;
    lastLineFeed_ = -1;
    userChars_ = {};
    resetModes();
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Impressora reiniciada"));
    updateReadiness();
    changed();
}

void VirtualPrinter::clearPaper() {
    paper_.clear();
    dirtyPaper_ = true;
    changed();
}

void VirtualPrinter::logEvent(const QString& text) {
    note(PrinterLogEntry::Kind::Command, text);
}

void VirtualPrinter::logWarning(const QString& text) {
    note(PrinterLogEntry::Kind::Warning, text);
}

std::optional<GlyphColumns> VirtualPrinter::userCharacter(uint8_t code) const {
    if (code < FirstUserChar || code > FirstUserChar + 15)
        return std::nullopt;
    return userChars_[code - FirstUserChar];
}

// Not ready from nearly full until half empty, so the host sends in large
// chunks instead of a byte at a time.
void VirtualPrinter::updateReadiness() {
    const int fill = bufferFill();
    const int high = bufferSize_ - bufferSize_ / 8;
    if (fill >= high)
        nearlyFull_ = true;
    else if (fill <= bufferSize_ / 2)
        nearlyFull_ = false;
}

void VirtualPrinter::changed() {
    if (dirtyPaper_) {
        dirtyPaper_ = false;
        emit paperChanged();
    }
    emit stateChanged();
}
