// The interpreter: what each piece the parser hands over does to the
// printer's modes and settings, and which of them become print jobs. A piece
// that prints nothing holds no room in the buffer once it has been acted on.
#include "sim/printer/PrinterInterpreter.h"

#include "protocol/CommandBytes.h"
#include "sim/printer/PrinterWords.h"

namespace Letter = Commands::Letter;

namespace {

constexpr uint8_t FirstUserChar = Commands::FirstUserCharacter;

QString hexByte(uint8_t b) {
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

QString escName(uint8_t letter) {
    if (letter >= 0x21 && letter < 0x7F)
        return QStringLiteral("ESC %1").arg(QChar(letter));
    return QStringLiteral("ESC 0x%1").arg(hexByte(letter));
}

// The authentication devices, in the order of their parameter values.
const char* const DeviceNames[] = {"Título", "Título e Fita Detalhe", "Título e Documento"};

} // namespace

PrinterInterpreter::PrinterInterpreter(PrintQueue& queue, PrinterModel model, QObject* parent)
    : QObject(parent), queue_(queue), parser_(*this, model) {}

void PrinterInterpreter::take(uint8_t byte) {
    unitBytes_ = 0;
    parser_.take(byte);
    settle();
}

void PrinterInterpreter::powerReset() {
    parser_.reset();
    unitBytes_ = 0;
    pending_.clear();
    pendingColumns_ = 0;
    pendingBytes_ = 0;
    authText_.clear();
    authBytes_ = 0;
    imageDots_.clear();
    imageBytes_ = 0;
    dumpBytes_.clear();
    lastLineFeed_ = -1;
    userChars_ = {};
    resetModes();
    settle();
}

void PrinterInterpreter::feedKey() {
    unitBytes_ = 0;
    queueFeed(1);
    settle();
}

// Nothing that prints nothing is held once acted on.
int PrinterInterpreter::heldBytes() const {
    return parser_.pendingBytes() + pendingBytes_ + authBytes_ + imageBytes_ +
           int(dumpBytes_.size());
}

void PrinterInterpreter::settle() {
    queue_.setHeld(heldBytes());
}

std::optional<GlyphColumns> PrinterInterpreter::userCharacter(uint8_t code) const {
    if (code < FirstUserChar || code > FirstUserChar + 15)
        return std::nullopt;
    return userChars_[code - FirstUserChar];
}

// ---- what the parser hands over ---------------------------------------------

void PrinterInterpreter::text(uint8_t byte) {
    unitBytes_ = 1;
    switch (byte) {
    case '\n':
        if (pending_.isEmpty())
            feedLines(1);
        else
            printPending();
        return;
    case '\r':
        return;
    case '\f':
        formFeed();
        return;
    case '\t': {
        // Blanks up to the next multiple of eight columns, as text files expect.
        unitBytes_ = 0;
        const int width = style_.wide ? 2 : 1;
        const int stop = std::min((pendingColumns_ / 8 + 1) * 8, columns_);
        const int blanks = std::max(1, (stop - pendingColumns_) / width);
        for (int i = 0; i < blanks; ++i)
            putCharacter(' ');
        ++pendingBytes_;
        return;
    }
    default:
        break;
    }
    if (byte < 0x20 || byte == 0x7F) {
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Caractere de controle 0x%1 ignorado").arg(hexByte(byte)),
             QByteArray(1, static_cast<char>(byte)), QStringLiteral("control-byte"), byte);
        return;
    }
    unitBytes_ = 0;
    putCharacter(byte);
    ++pendingBytes_;
}

void PrinterInterpreter::unknownEscape(uint8_t letter) {
    note(PrinterLogEntry::Kind::Warning,
         QStringLiteral("Sequência desconhecida %1 ignorada").arg(escName(letter)),
         QByteArray(1, Commands::Esc) + static_cast<char>(letter),
         QStringLiteral("unknown-sequence"));
}

void PrinterInterpreter::command(const Parsed& c) {
    using C = PrinterParser::Command;
    unitBytes_ = int(c.bytes().size());
    switch (c.command) {
    case C::Reset:
        return runReset(c);
    case C::DumpMode:
        return runDumpMode(c);
    case C::PrintNormal:
    case C::PrintExpanded:
    case C::PrintEmphasized:
        return runPrintMode(c);
    case C::RtsSignalling:
        return runRtsSignalling(c);
    case C::Authentication:
        return runAuthentication(c);
    case C::PageSize:
        return runPageSize(c);
    case C::CharactersPerLine:
        return runCharactersPerLine(c);
    case C::PaperSensorOn:
    case C::PaperSensorOff:
        return runPaperSensor(c);
    case C::Keyboard:
        return runKeyboard(c);
    case C::Identification:
        return runIdentification(c);
    case C::UserCharacter:
        return runUserCharacter(c);
    case C::BitImage:
        return runBitImage(c);
    case C::StatusRequest:
        return runStatusRequest(c);
    case C::Drawer:
        return runDrawer(c);
    case C::LineFeed:
        return runLineFeed(c);
    }
}

void PrinterInterpreter::authenticationText(uint8_t byte) {
    if (!authDevice_)
        return; // dropped as it comes
    ++authBytes_;
    authText_.append(makeCell(byte, PrintStyle{}));
}

void PrinterInterpreter::authenticationEnd(bool cut) {
    if (cut)
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Autenticação com mais de %1 caracteres: encerrada sem LF")
                 .arg(Commands::MaxAuthenticationText),
             {}, QStringLiteral("authentication-cut"));
    if (!authDevice_) {
        authText_.clear();
        return;
    }
    PaperLine line = emptyLine(PaperLine::Kind::Authentication);
    line.cells = std::move(authText_);
    line.note = QString::fromUtf8(DeviceNames[*authDevice_]);
    authText_.clear();
    unitBytes_ = authBytes_ + (cut ? 0 : 1);
    authBytes_ = 0;
    // Waits in the queue from its end only: a ready line that went off at
    // its start would hold back its own text.
    queueLine(std::move(line), true);
}

void PrinterInterpreter::imageColumn(uint8_t byte) {
    const int width = imageDouble_ ? 1 : 2;
    if (imageRejected_)
        return; // dropped as it comes
    if (imageDots_.size() + width <= PaperRoll::HeadDots) {
        ++imageBytes_;
        for (int i = 0; i < width; ++i)
            imageDots_.append(static_cast<char>(byte));
    } else if (!imageClipped_) {
        imageClipped_ = true;
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Imagem mais larga que a cabeça: colunas excedentes descartadas"), {},
             QStringLiteral("image-clipped"));
    }
}

void PrinterInterpreter::imageEnd() {
    if (imageRejected_)
        return;
    PaperLine line = emptyLine(PaperLine::Kind::Image);
    line.dots = imageDots_;
    imageDots_.clear();
    unitBytes_ = imageBytes_;
    imageBytes_ = 0;
    queueLine(std::move(line), true);
}

void PrinterInterpreter::dumpByte(uint8_t byte) {
    dumpBytes_.append(static_cast<char>(byte));
    if (dumpBytes_.size() == DumpBytesPerLine)
        flushDump();
}

// ---- the commands ------------------------------------------------------------

std::optional<int> PrinterInterpreter::pick(const Parsed& c, int index,
                                            std::span<const uint8_t> values,
                                            const QString& command) {
    const auto found = std::find(values.begin(), values.end(), uint8_t(c.parameters[index]));
    if (found != values.end())
        return static_cast<int>(found - values.begin());
    reject(c, index, command);
    return std::nullopt;
}

void PrinterInterpreter::reject(const Parsed& c, int index, const QString& command) {
    note(PrinterLogEntry::Kind::Warning,
         QStringLiteral("%1 (%2): parâmetro 0x%3 inválido, comando ignorado")
             .arg(command, escName(c.letter), hexByte(uint8_t(c.parameters[index]))),
         c.bytes(), QStringLiteral("bad-parameter"), uint8_t(c.parameters[index]));
}

void PrinterInterpreter::done(const Parsed& c, const QString& what, const QString& name,
                              const QVariant& value) {
    note(PrinterLogEntry::Kind::Command, what, c.bytes(), name, value);
}

void PrinterInterpreter::note(PrinterLogEntry::Kind kind, const QString& text,
                              const QByteArray& bytes, const QString& name, const QVariant& value) {
    emit logged(PrinterLogEntry{0, kind, bytes, text, name, value});
}

void PrinterInterpreter::runReset(const Parsed& c) {
    done(c, QStringLiteral("Reset"), QStringLiteral("reset"));
    if (!pending_.isEmpty())
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Reset: %1 caractere(s) não impresso(s) descartado(s)")
                 .arg(pending_.size()),
             {}, QStringLiteral("reset-discarded"), int(pending_.size()));
    pending_.clear();
    pendingColumns_ = 0;
    pendingBytes_ = 0;
    resetModes();
    PaperLine marker = emptyLine(PaperLine::Kind::Marker);
    marker.note = QStringLiteral("Reset");
    queueLine(std::move(marker), false);
}

void PrinterInterpreter::runDumpMode(const Parsed& c) {
    done(c, QStringLiteral("Modo dump ligado"), QStringLiteral("dump-mode"));
    printPending();
    PaperLine marker = emptyLine(PaperLine::Kind::Marker);
    marker.note = QStringLiteral("Modo dump");
    queueLine(std::move(marker), false);
}

void PrinterInterpreter::runPrintMode(const Parsed& c) {
    const QString name = QStringLiteral("print-mode");
    if (c.letter == Letter::PrintNormal) {
        style_ = PrintStyle{};
        return done(c, QStringLiteral("Modo normal"), name, QStringLiteral("normal"));
    }
    if (c.letter == Letter::PrintEmphasized) {
        style_ = PrintStyle{false, true};
        return done(c, QStringLiteral("Modo enfatizado"), name, QStringLiteral("emphasized"));
    }
    const auto variant = pick(c, 0, Commands::ExpandedVariants, QStringLiteral("Modo expandido"));
    if (!variant)
        return;
    style_ = PrintStyle{true, *variant == 1};
    if (style_.bold)
        done(c, QStringLiteral("Modo expandido negrito"), name, QStringLiteral("expanded-bold"));
    else
        done(c, QStringLiteral("Modo expandido normal"), name, QStringLiteral("expanded"));
}

void PrinterInterpreter::runRtsSignalling(const Parsed& c) {
    const auto option = pick(c, 0, Commands::RtsOptions, QStringLiteral("Sinalização do RTS"));
    if (!option)
        return;
    rtsSignalling_ = *option;
    done(c,
         rtsSignalling_ ? QStringLiteral("Sinalização do RTS: autenticação")
                        : QStringLiteral("Sinalização do RTS: on/off-line"),
         QStringLiteral("rts-signalling"), rtsSignalling_);
}

// A rejected command's text goes with it, up to its line feed.
void PrinterInterpreter::runAuthentication(const Parsed& c) {
    authDevice_ = pick(c, 0, Commands::AuthenticationDevices, QStringLiteral("Autenticação"));
    authText_.clear();
    if (!authDevice_)
        return;
    authBytes_ = unitBytes_;
    unitBytes_ = 0;
    printPending();
    done(c, QStringLiteral("Autenticação: %1").arg(QString::fromUtf8(DeviceNames[*authDevice_])),
         QStringLiteral("authentication"), *authDevice_);
}

void PrinterInterpreter::runPageSize(const Parsed& c) {
    const uint8_t lines = uint8_t(c.parameters[0]);
    if (lines < Commands::MinPageSize || lines > Commands::MaxPageSize)
        return reject(c, 0, QStringLiteral("Tamanho de página"));
    pageLines_ = lines;
    linesOnPage_ %= pageLines_;
    done(c, QStringLiteral("Página de %1").arg(lineCount(pageLines_)), QStringLiteral("page-size"),
         pageLines_);
}

void PrinterInterpreter::runCharactersPerLine(const Parsed& c) {
    const auto index =
        pick(c, 0, Commands::CharactersPerLineCodes, QStringLiteral("Caracteres por linha"));
    if (!index)
        return;
    columns_ = Commands::CharactersPerLineWidths[*index];
    done(c, QStringLiteral("%1 caracteres por linha").arg(columns_),
         QStringLiteral("characters-per-line"), columns_);
    if (pendingColumns_ > columns_)
        printPending();
}

void PrinterInterpreter::runPaperSensor(const Parsed& c) {
    paperSensor_ = c.letter == Letter::PaperSensorOn;
    done(c, QStringLiteral("Sensor de papel %1").arg(onOff(paperSensor_)),
         QStringLiteral("paper-sensor"), paperSensor_);
    emit paperSensorSet();
}

void PrinterInterpreter::runLineFeed(const Parsed& c) {
    if (c.letter == Letter::LineFeedCompatible &&
        !pick(c, 0, std::array{Commands::LineFeedFunction}, QStringLiteral("Avanço de linhas")))
        return;
    lastLineFeed_ = uint8_t(c.parameters.back());
    done(c, QStringLiteral("Avanço de %1").arg(lineCount(lastLineFeed_)),
         QStringLiteral("line-feed"), lastLineFeed_);
    feedLines(lastLineFeed_);
}

void PrinterInterpreter::runKeyboard(const Parsed& c) {
    const auto state = pick(c, 0, Commands::KeyboardStates, QStringLiteral("Teclado"));
    if (!state)
        return;
    keyboard_ = *state == 0;
    done(c, QStringLiteral("Teclado %1").arg(onOff(keyboard_)), QStringLiteral("keyboard"),
         keyboard_);
}

// The drawer's parameters (which output, how long a pulse) are the drawer's
// business: any value opens it.
void PrinterInterpreter::runDrawer(const Parsed& c) {
    const auto p = [&c](int i) { return uint8_t(c.parameters[i]); };
    const QString what =
        c.letter == Letter::Drawer
            ? QStringLiteral("Gaveta (saída %1, pulso %2/%3)").arg(p(0)).arg(p(1)).arg(p(2))
            : QStringLiteral("Gaveta (pulso %1)").arg(p(0));
    done(c, what, QStringLiteral("drawer"));
    PaperLine marker = emptyLine(PaperLine::Kind::Marker);
    marker.note = QStringLiteral("Gaveta aberta");
    queueJob(Job{Job::Kind::Drawer, std::move(marker), 0, 0});
}

void PrinterInterpreter::runStatusRequest(const Parsed& c) {
    done(c, QStringLiteral("Pedido de status"), QStringLiteral("status-request"));
    settle(); // the request itself is acted on: it holds nothing
    emit asked(Query::Status);
}

void PrinterInterpreter::runIdentification(const Parsed& c) {
    const auto selector =
        pick(c, 0, std::array{Commands::ModelSelector, Commands::FirmwareSelector},
             QStringLiteral("Pedido de identificação"));
    if (!selector)
        return;
    if (*selector == 0) {
        done(c, QStringLiteral("Pedido do modelo"), QStringLiteral("model-request"));
        emit asked(Query::Model);
    } else {
        done(c, QStringLiteral("Pedido do firmware"), QStringLiteral("firmware-request"));
        emit asked(Query::Firmware);
    }
}

void PrinterInterpreter::runUserCharacter(const Parsed& c) {
    const uint8_t code = uint8_t(c.parameters[0]);
    if (code < FirstUserChar || code > FirstUserChar + 15)
        return reject(c, 0, QStringLiteral("Caractere programável"));
    GlyphColumns columns;
    for (int i = 0; i < 9; ++i)
        columns[i] = uint8_t(c.parameters[1 + i]);
    userChars_[code - FirstUserChar] = columns;
    done(c, QStringLiteral("Caractere 0x%1 programado").arg(hexByte(code)),
         QStringLiteral("user-character"), code);
}

// The column data follow the command; a rejected density drops them unprinted.
void PrinterInterpreter::runBitImage(const Parsed& c) {
    const int count = uint8_t(c.parameters[1]) | (uint8_t(c.parameters[2]) << 8);
    const auto density = pick(c, 0, Commands::BitImageDensities, QStringLiteral("Imagem"));
    imageRejected_ = !density;
    if (!density)
        return;
    imageDouble_ = density == 1;
    done(c,
         QStringLiteral("Imagem de %1 coluna(s), densidade %2")
             .arg(count)
             .arg(imageDouble_ ? QStringLiteral("dupla") : QStringLiteral("simples")),
         QStringLiteral("bit-image"), count);
    if (count == 0)
        return;
    imageBytes_ = unitBytes_;
    unitBytes_ = 0;
    printPending();
    imageDots_.clear();
    imageClipped_ = false;
}
