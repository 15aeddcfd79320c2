#include "sim/VirtualPrinter.h"
#include "commands/Windows1252.h"
#include "sim/HexDump.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t ReplyLead = 0x06;
constexpr int DumpBytesPerLine = 8;
constexpr int MaxAuthenticationText = 40;
constexpr uint8_t FirstUserChar = 0xB0;

QString hexByte(uint8_t b) {
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

QString escName(uint8_t letter) {
    if (letter >= 0x21 && letter < 0x7F)
        return QStringLiteral("ESC %1").arg(QChar(letter));
    return QStringLiteral("ESC 0x%1").arg(hexByte(letter));
}

// Accepts both the raw value and its ASCII digit, as the printer does for its
// one-digit switches.
int digitValue(uint8_t b) {
    return b >= '0' && b <= '9' ? b - '0' : b;
}

const char* deviceName(uint8_t device) {
    switch (device) {
    case 0:
        return "Título";
    case 1:
        return "Título e Fita Detalhe";
    case 2:
        return "Título e Documento";
    default:
        return "dispositivo desconhecido";
    }
}

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
    return !offline_ && !nearlyFull_;
}

uint8_t VirtualPrinter::parallelStatus() const {
    uint8_t s = 0x47; // acknowledge idle high, the unused low bits read 1
    if (!fault())
        s |= 0x08;
    if (!offline_)
        s |= 0x10;
    if (paperOut_)
        s |= 0x20;
    if (ready())
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
        params_.append(static_cast<char>(byte));
        if (params_.size() == needed_)
            runCommand();
        break;
    case Parse::Authentication:
        if (byte == '\n') {
            ++pendingBytes_;
            PaperLine line;
            line.kind = PaperLine::Kind::Authentication;
            line.columnsPerLine = columns_;
            line.cells = authText_;
            line.note = QString::fromUtf8(deviceName(static_cast<uint8_t>(params_[0])));
            authText_.clear();
            parse_ = Parse::Text;
            queueLine(std::move(line), true);
        } else if (authText_.size() == MaxAuthenticationText) {
            // Without its line feed the text would swallow everything after it.
            note(PrinterLogEntry::Kind::Warning,
                 QStringLiteral("Autenticação com mais de %1 caracteres: encerrada sem LF")
                     .arg(MaxAuthenticationText));
            PaperLine line;
            line.kind = PaperLine::Kind::Authentication;
            line.columnsPerLine = columns_;
            line.cells = authText_;
            line.note = QString::fromUtf8(deviceName(static_cast<uint8_t>(params_[0])));
            authText_.clear();
            parse_ = Parse::Text;
            queueLine(std::move(line), true);
            take(byte);
        } else {
            ++pendingBytes_;
            authText_.append(makeCell(byte, PrintStyle{}));
        }
        break;
    case Parse::ImageData: {
        const int width = imageDouble_ ? 1 : 2;
        if (imageDots_.size() + width <= PaperRoll::HeadDots) {
            ++pendingBytes_;
            for (int i = 0; i < width; ++i)
                imageDots_.append(static_cast<char>(byte));
        } else if (!imageClipped_) {
            imageClipped_ = true;
            note(PrinterLogEntry::Kind::Warning,
                 QStringLiteral("Imagem mais larga que a cabeça: colunas excedentes descartadas"));
        }
        if (--imageRemaining_ == 0) {
            PaperLine line;
            line.kind = PaperLine::Kind::Image;
            line.columnsPerLine = columns_;
            line.dots = imageDots_;
            imageDots_.clear();
            parse_ = Parse::Text;
            queueLine(std::move(line), true);
        }
        break;
    }
    }
}

void VirtualPrinter::takeText(uint8_t byte) {
    switch (byte) {
    case ESC:
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

int VirtualPrinter::parameterCount(uint8_t letter) const {
    const bool compatible = model_ == PrinterModel::Compatible;
    switch (letter) {
    case '@':
    case 'x':
    case 'M':
    case 'E':
    case '9':
    case '8':
        return 0;
    case 'W':
    case '~':
    case 'd':
    case 'P':
    case 'y':
    case 'I':
    case 'c':
        return 1;
    case '#':
        return 10;
    case '*':
        return 3;
    case 'v':
        return compatible ? 1 : 0;
    case 'V':
        return compatible ? 0 : -1;
    case 'p':
        return compatible ? -1 : 3;
    case 'a':
        return compatible ? -1 : 1;
    case 'f':
        return compatible ? 2 : -1;
    default:
        return -1;
    }
}

void VirtualPrinter::takeEscape(uint8_t byte) {
    const int count = parameterCount(byte);
    if (count < 0) {
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Sequência desconhecida %1 ignorada").arg(escName(byte)),
             QByteArray(1, static_cast<char>(ESC)) + static_cast<char>(byte));
        parse_ = Parse::Text;
        if (byte == ESC) { // a second ESC starts the next command
            parse_ = Parse::Escape;
            return;
        }
        finishCommand();
        return;
    }
    letter_ = byte;
    params_.clear();
    needed_ = count;
    parse_ = Parse::Parameters;
    if (count == 0)
        runCommand();
}

void VirtualPrinter::runCommand() {
    parse_ = Parse::Text;
    const auto p = [this](int i) { return static_cast<uint8_t>(params_[i]); };
    const QByteArray bytes =
        QByteArray(1, static_cast<char>(ESC)) + static_cast<char>(letter_) + params_;
    const auto done = [&](const QString& what) {
        note(PrinterLogEntry::Kind::Command, what, bytes);
        finishCommand();
    };
    const auto bad = [&](const QString& what) {
        note(PrinterLogEntry::Kind::Warning, what, bytes);
        finishCommand();
    };
    const bool compatible = model_ == PrinterModel::Compatible;

    switch (letter_) {
    case '@':
        note(PrinterLogEntry::Kind::Command, QStringLiteral("Reset"), bytes);
        if (!pending_.isEmpty())
            note(PrinterLogEntry::Kind::Warning,
                 QStringLiteral("Reset: %1 caractere(s) não impresso(s) descartado(s)")
                     .arg(pending_.size()));
        pending_.clear();
        pendingColumns_ = 0;
        resetModes();
        queueMarker(QStringLiteral("Reset"));
        return;
    case 'x':
        note(PrinterLogEntry::Kind::Command, QStringLiteral("Modo dump ligado"), bytes);
        printPending();
        queueMarker(QStringLiteral("Modo dump"));
        dumpMode_ = true;
        return;
    case 'M':
        style_ = PrintStyle{};
        return done(QStringLiteral("Modo normal"));
    case 'E':
        style_ = PrintStyle{false, true};
        return done(QStringLiteral("Modo enfatizado"));
    case 'W':
        if (digitValue(p(0)) > 1)
            return bad(QStringLiteral("ESC W com variante inválida 0x%1").arg(hexByte(p(0))));
        style_ = PrintStyle{true, digitValue(p(0)) == 1};
        return done(style_.bold ? QStringLiteral("Modo expandido negrito")
                                : QStringLiteral("Modo expandido normal"));
    case '~':
        if (digitValue(p(0)) > 1)
            return bad(QStringLiteral("ESC ~ com opção inválida 0x%1").arg(hexByte(p(0))));
        rtsSignalling_ = digitValue(p(0));
        return done(rtsSignalling_ ? QStringLiteral("RTS sinaliza autenticação")
                                   : QStringLiteral("RTS sinaliza on/off-line"));
    case 'd':
        if (p(0) < 1 || p(0) > 39)
            return bad(QStringLiteral("Tamanho de página %1 fora de 1 a 39 ignorado").arg(p(0)));
        pageLines_ = p(0);
        linesOnPage_ %= pageLines_;
        return done(QStringLiteral("Página de %1 linhas").arg(pageLines_));
    case 'P': {
        static constexpr int widths[] = {40, 48, 60};
        if (digitValue(p(0)) > 2)
            return bad(QStringLiteral("ESC P com largura inválida 0x%1").arg(hexByte(p(0))));
        columns_ = widths[digitValue(p(0))];
        if (pendingColumns_ > columns_)
            printPending();
        return done(QStringLiteral("%1 colunas").arg(columns_));
    }
    case '9':
        paperSensor_ = true;
        return done(QStringLiteral("Sensor de papel ligado"));
    case '8':
        paperSensor_ = false;
        return done(QStringLiteral("Sensor de papel desligado"));
    case 'y':
        if (digitValue(p(0)) > 1)
            return bad(QStringLiteral("ESC y com opção inválida 0x%1").arg(hexByte(p(0))));
        keyboard_ = digitValue(p(0)) == 1;
        return done(keyboard_ ? QStringLiteral("Teclado ligado")
                              : QStringLiteral("Teclado desligado"));
    case 'I':
        if (p(0) == '1') {
            note(PrinterLogEntry::Kind::Command, QStringLiteral("Pedido do modelo"), bytes);
            finishCommand();
            reply(identificationReply(compatible ? CompatibleModelName : DualModelName));
        } else if (p(0) == '0') {
            note(PrinterLogEntry::Kind::Command, QStringLiteral("Pedido do firmware"), bytes);
            finishCommand();
            reply(identificationReply(FirmwareName));
        } else {
            bad(QStringLiteral("ESC I com seletor inválido 0x%1").arg(hexByte(p(0))));
        }
        return;
    case 'V':
    case 'v':
        if (letter_ == 'v' && compatible) {
            note(PrinterLogEntry::Kind::Command, QStringLiteral("Gaveta (pulso %1)").arg(p(0)),
                 bytes);
            queueJob(Job{Job::Kind::Drawer, {}, 0});
            return;
        }
        note(PrinterLogEntry::Kind::Command, QStringLiteral("Pedido de status"), bytes);
        finishCommand();
        reply(statusReply());
        return;
    case 'p':
        note(PrinterLogEntry::Kind::Command,
             QStringLiteral("Gaveta (saída %1, pulso %2/%3)").arg(p(0)).arg(p(1)).arg(p(2)), bytes);
        queueJob(Job{Job::Kind::Drawer, {}, 0});
        return;
    case 'a':
        note(PrinterLogEntry::Kind::Command, QStringLiteral("Avanço de %1 linha(s)").arg(p(0)),
             bytes);
        feedLines(p(0));
        return;
    case 'f':
        if (p(0) != 1)
            return bad(QStringLiteral("ESC f com função inválida 0x%1").arg(hexByte(p(0))));
        note(PrinterLogEntry::Kind::Command, QStringLiteral("Avanço de %1 linha(s)").arg(p(1)),
             bytes);
        feedLines(p(1));
        return;
    case 'c':
        note(PrinterLogEntry::Kind::Command,
             QStringLiteral("Autenticação: %1").arg(QString::fromUtf8(deviceName(p(0)))), bytes);
        if (p(0) > 2)
            note(PrinterLogEntry::Kind::Warning,
                 QStringLiteral("Dispositivo de autenticação inválido 0x%1").arg(hexByte(p(0))));
        printPending();
        authText_.clear();
        parse_ = Parse::Authentication;
        return;
    case '#': {
        if (p(0) < FirstUserChar || p(0) > FirstUserChar + 15)
            return bad(QStringLiteral("Código de caractere 0x%1 fora de B0 a BF ignorado")
                           .arg(hexByte(p(0))));
        GlyphColumns columns;
        for (int i = 0; i < 9; ++i)
            columns[i] = p(1 + i);
        userChars_[p(0) - FirstUserChar] = columns;
        return done(QStringLiteral("Caractere 0x%1 programado").arg(hexByte(p(0))));
    }
    case '*': {
        const int count = p(1) | (p(2) << 8);
        if (p(0) > 1)
            note(PrinterLogEntry::Kind::Warning,
                 QStringLiteral("Densidade 0x%1 desconhecida: impressa como dupla")
                     .arg(hexByte(p(0))));
        imageDouble_ = p(0) != 0;
        note(PrinterLogEntry::Kind::Command,
             QStringLiteral("Imagem de %1 coluna(s), densidade %2")
                 .arg(count)
                 .arg(imageDouble_ ? QStringLiteral("dupla") : QStringLiteral("simples")),
             bytes);
        printPending();
        if (count == 0) {
            finishCommand();
            return;
        }
        imageDots_.clear();
        imageClipped_ = false;
        imageRemaining_ = count;
        parse_ = Parse::ImageData;
        return;
    }
    default:
        return bad(QStringLiteral("Sequência desconhecida %1 ignorada").arg(escName(letter_)));
    }
}

void VirtualPrinter::takeDump(uint8_t byte) {
    ++pendingBytes_;
    dumpBytes_.append(static_cast<char>(byte));
    if (dumpBytes_.size() == DumpBytesPerLine)
        flushDump();
}

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
        if (job.kind == Job::Kind::Drawer)
            openDrawer();
        else
            paper_.append(std::move(job.line));
        dirtyPaper_ = true;
        queue_.pop_front();
    }
    if (queue_.empty())
        credit_ = 0;
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
}

// ---- replies, panel, notifications -------------------------------------------

QByteArray VirtualPrinter::statusReply() const {
    QByteArray r(1, static_cast<char>(ReplyLead));
    r += paperOut_ ? 'S' : 'P';
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
    imageDots_.clear();
    dumpBytes_.clear();
    parse_ = Parse::Text;
    dumpMode_ = false;
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
