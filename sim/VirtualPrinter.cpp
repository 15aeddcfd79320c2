// The printer as its surroundings see it: the host's bytes in and replies
// out, the ready, busy and error lines, the panel, the clock and the log.
// What the bytes mean is the parser's and the interpreter's; what the buffer
// holds is the print queue's.
#include "sim/VirtualPrinter.h"

#include "commands/CommandBytes.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

constexpr uint8_t ReplyLead = 0x06;
constexpr uint8_t FirstUserChar = Commands::FirstUserCharacter;

} // namespace

const QByteArray VirtualPrinter::CompatibleModelName = QByteArrayLiteral("Korvex BM  40/48");
const QByteArray VirtualPrinter::DualModelName = QByteArrayLiteral("Korvexa Dual  60");
const QByteArray VirtualPrinter::FirmwareName = QByteArrayLiteral("Firmware 1.00 VP");

VirtualPrinter::VirtualPrinter(PrinterModel model, QObject* parent)
    : QObject(parent), model_(model), parser_(*this, model), queue_(DefaultBufferSize) {}

QString VirtualPrinter::modelText(PrinterModel model) {
    return QString::fromLatin1(model == PrinterModel::Compatible ? CompatibleModelName
                                                                 : DualModelName);
}

// ---- the host's side -------------------------------------------------------

void VirtualPrinter::receive(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    lastReceiveMs_ = now_;
    emit logged(PrinterLogEntry{now_, PrinterLogEntry::Kind::Received, bytes, {}, {}, {}});
    int lostNow = 0;
    for (char c : bytes) {
        if (queue_.room() == 0) {
            ++lostNow;
            continue;
        }
        unitBytes_ = 0;
        parser_.take(static_cast<uint8_t>(c));
        settle();
        if (lineMs() == 0) // as fast as the bytes arrive: before the next one
            printDue(0);
    }
    // Every loss is counted and logged: a host that ignores the ready line
    // must see how much it lost.
    if (lostNow > 0) {
        lostBytes_ += lostNow;
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Buffer cheio: %1 byte(s) perdido(s)").arg(lostNow), {},
             QStringLiteral("buffer-full"), lostNow);
    }
    changed();
}

// What has been taken in and is not yet a job: nothing that prints nothing.
int VirtualPrinter::heldBytes() const {
    return parser_.pendingBytes() + pendingBytes_ + authBytes_ + imageBytes_ +
           int(dumpBytes_.size());
}

void VirtualPrinter::settle() {
    queue_.setHeld(heldBytes());
}

bool VirtualPrinter::ready() const {
    if (queue_.nearlyFull())
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

// ---- time and printing ------------------------------------------------------

qint64 VirtualPrinter::lineMs() const {
    if (linesPerSecond_ <= 0)
        return 0;
    return std::max<qint64>(1, std::llround(1000.0 / linesPerSecond_));
}

void VirtualPrinter::advance(qint64 ms) {
    if (ms <= 0)
        return;
    now_ += ms;
    const auto before = std::tuple(ready(), fault(), bufferFill(), drawerOpen_);
    if (drawerOpen_ && now_ >= drawerClosesAt_) {
        drawerOpen_ = false;
        note(PrinterLogEntry::Kind::Command, QStringLiteral("Gaveta fechada"), {},
             QStringLiteral("drawer-closed"));
    }
    // A dump line waits for eight bytes; when the host has stopped, the rest prints.
    if (dumpMode() && !dumpBytes_.isEmpty() && now_ - lastReceiveMs_ >= DumpIdleFlushMs) {
        flushDump();
        settle();
    }
    printDue(ms);
    if (dirtyPaper_ || before != std::tuple(ready(), fault(), bufferFill(), drawerOpen_))
        changed();
}

// At speed 0 everything due prints at once, whatever time has passed.
void VirtualPrinter::printDue(qint64 ms) {
    if (fault()) {
        queue_.pause();
        return;
    }
    if (ms > 0 || lineMs() == 0)
        queue_.print(ms, lineMs(), [this](const Job& job) { printJob(job); });
}

bool VirtualPrinter::hasWork() const {
    return (queue_.hasJobs() && !fault()) || drawerOpen_ || (dumpMode() && !dumpBytes_.isEmpty());
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
    r += queue_.nearlyFull() ? 'C' : (bufferFill() > 0 ? 'D' : 'V');
    r += dumpMode() ? 'D' : 'N';
    return r;
}

QByteArray VirtualPrinter::identificationReply(const QByteArray& text) const {
    QByteArray r(1, static_cast<char>(ReplyLead));
    r += text.left(16).leftJustified(16, ' ');
    return r;
}

void VirtualPrinter::reply(const QByteArray& bytes) {
    emit logged(PrinterLogEntry{now_, PrinterLogEntry::Kind::Sent, bytes, {}, {}, {}});
    emit replied(bytes);
}

void VirtualPrinter::note(PrinterLogEntry::Kind kind, const QString& text, const QByteArray& bytes,
                          const QString& name, const QVariant& value) {
    emit logged(PrinterLogEntry{now_, kind, bytes, text, name, value});
}

void VirtualPrinter::setPaperOut(bool out) {
    noPaperWarned_ = false;
    setPanelSwitch(paperOut_, out, QStringLiteral("Sem papel"), QStringLiteral("Papel colocado"),
                   QStringLiteral("paper-out"));
}

void VirtualPrinter::setOffline(bool offline) {
    setPanelSwitch(offline_, offline, QStringLiteral("Off-line"), QStringLiteral("On-line"),
                   QStringLiteral("offline"));
}

void VirtualPrinter::setPanelSwitch(bool& state, bool on, const QString& onText,
                                    const QString& offText, const QString& name) {
    if (state == on)
        return;
    state = on;
    note(PrinterLogEntry::Kind::Command, on ? onText : offText, {}, name, on);
    printDue(0);
    changed();
}

void VirtualPrinter::pressFeedKey() {
    if (!keyboard_) {
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Tecla de avanço ignorada: teclado desligado"), {},
             QStringLiteral("feed-key-ignored"));
        return;
    }
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Tecla de avanço"), {},
         QStringLiteral("feed-key"));
    unitBytes_ = 0;
    queueFeed(1);
    settle();
    printDue(0);
    changed();
}

void VirtualPrinter::setModel(PrinterModel model) {
    if (model_ == model)
        return;
    model_ = model;
    parser_.setModel(model);
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Modelo: %1").arg(modelText(model)), {},
         QStringLiteral("model"),
         model == PrinterModel::Compatible ? QStringLiteral("compatible") : QStringLiteral("dual"));
    changed();
}

void VirtualPrinter::setLinesPerSecond(double lines) {
    linesPerSecond_ = lines <= 0 ? 0 : std::clamp(lines, MinLinesPerSecond, MaxLinesPerSecond);
    printDue(0);
    changed();
}

void VirtualPrinter::setBufferSize(int bytes) {
    queue_.setCapacity(std::clamp(bytes, 1024, 1 << 20));
    changed();
}

void VirtualPrinter::powerReset() {
    queue_.clear();
    parser_.reset();
    unitBytes_ = 0;
    pending_.clear();
    pendingColumns_ = 0;
    pendingBytes_ = 0;
    authText_.clear();
    authBytes_ = 0;
    authenticationsWaiting_ = 0;
    imageDots_.clear();
    imageBytes_ = 0;
    dumpBytes_.clear();
    lastLineFeed_ = -1;
    userChars_ = {};
    resetModes();
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Impressora reiniciada"), {},
         QStringLiteral("power-reset"));
    settle();
    changed();
}

void VirtualPrinter::clearPaper() {
    paper_.clear();
    dirtyPaper_ = true;
    emit paperCleared();
    changed();
}

void VirtualPrinter::logEvent(const QString& text, const QString& name) {
    note(PrinterLogEntry::Kind::Command, text, {}, name);
}

void VirtualPrinter::logWarning(const QString& text, const QString& name, const QVariant& value) {
    note(PrinterLogEntry::Kind::Warning, text, {}, name, value);
}

std::optional<GlyphColumns> VirtualPrinter::userCharacter(uint8_t code) const {
    if (code < FirstUserChar || code > FirstUserChar + 15)
        return std::nullopt;
    return userChars_[code - FirstUserChar];
}

void VirtualPrinter::changed() {
    if (dirtyPaper_) {
        dirtyPaper_ = false;
        emit paperChanged();
    }
    emit stateChanged();
}
