// The printer as its surroundings see it: the host's bytes in and replies
// out, the ready, busy and error lines, the panel, the clock and the log.
// What the bytes mean is the interpreter's, what the buffer holds the print
// queue's, what is on the paper the print head's.
#include "sim/printer/VirtualPrinter.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

constexpr uint8_t ReplyLead = 0x06;

} // namespace

const QByteArray VirtualPrinter::CompatibleModelName = QByteArrayLiteral("Korvex BM  40/48");
const QByteArray VirtualPrinter::DualModelName = QByteArrayLiteral("Korvexa Dual  60");
const QByteArray VirtualPrinter::FirmwareName = QByteArrayLiteral("Firmware 1.00 VP");

VirtualPrinter::VirtualPrinter(PrinterModel model, QObject* parent)
    : QObject(parent), model_(model), queue_(DefaultBufferSize), interpreter_(queue_, model) {
    connect(&interpreter_, &PrinterInterpreter::asked, this, &VirtualPrinter::answer);
    connect(&interpreter_, &PrinterInterpreter::logged, this, &VirtualPrinter::stamp);
    connect(&interpreter_, &PrinterInterpreter::paperSensorSet, &head_,
            &PrintHead::rearmLossWarning);
    connect(&head_, &PrintHead::logged, this, &VirtualPrinter::stamp);
    connect(&head_, &PrintHead::printed, this, [this](const PaperLine& line) {
        dirtyPaper_ = true;
        emit printed(line);
    });
}

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
        interpreter_.take(static_cast<uint8_t>(c));
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

bool VirtualPrinter::ready() const {
    if (queue_.nearlyFull())
        return false;
    return rtsSignalling() == 0 ? !offline_ && !paperSensed()
                                : queue_.authenticationsWaiting() == 0;
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
    const auto before = std::tuple(ready(), fault(), bufferFill(), drawerOpen());
    head_.follow(now_);
    if (dumpMode() && interpreter_.dumpWaiting() && now_ - lastReceiveMs_ >= DumpIdleFlushMs)
        interpreter_.flushDump();
    printDue(ms);
    if (dirtyPaper_ || before != std::tuple(ready(), fault(), bufferFill(), drawerOpen()))
        changed();
}

// At speed 0 everything due prints at once, whatever time has passed.
void VirtualPrinter::printDue(qint64 ms) {
    if (fault()) {
        queue_.pause();
        return;
    }
    if (ms > 0 || lineMs() == 0)
        queue_.print(ms, lineMs(), [this](const PrintQueue::Job& job) { head_.print(job, now_); });
}

bool VirtualPrinter::hasWork() const {
    return (queue_.hasJobs() && !fault()) || drawerOpen() ||
           (dumpMode() && interpreter_.dumpWaiting());
}

// ---- replies, panel, notifications -------------------------------------------

QByteArray VirtualPrinter::statusReply() const {
    QByteArray r(1, static_cast<char>(ReplyLead));
    r += paperSensed() ? 'S' : 'P';
    r += offline_ ? 'F' : 'L';
    r += drawerOpen() ? 'A' : 'F';
    r += paperSensor() ? '1' : '0';
    r += keyboard() ? '1' : '0';
    r += rtsSignalling() ? '1' : '0';
    r += queue_.nearlyFull() ? 'C' : (bufferFill() > 0 ? 'D' : 'V');
    r += dumpMode() ? 'D' : 'N';
    return r;
}

QByteArray VirtualPrinter::identificationReply(const QByteArray& text) const {
    QByteArray r(1, static_cast<char>(ReplyLead));
    r += text.left(16).leftJustified(16, ' ');
    return r;
}

void VirtualPrinter::answer(PrinterInterpreter::Query query) {
    switch (query) {
    case PrinterInterpreter::Query::Status:
        return reply(statusReply());
    case PrinterInterpreter::Query::Model:
        return reply(identificationReply(model_ == PrinterModel::Compatible ? CompatibleModelName
                                                                            : DualModelName));
    case PrinterInterpreter::Query::Firmware:
        return reply(identificationReply(FirmwareName));
    }
}

void VirtualPrinter::reply(const QByteArray& bytes) {
    if (!reportsDelivery_)
        replyLeft(bytes);
    emit replied(bytes);
}

void VirtualPrinter::replyLeft(const QByteArray& bytes) {
    emit logged(PrinterLogEntry{now_, PrinterLogEntry::Kind::Sent, bytes, {}, {}, {}});
}

void VirtualPrinter::note(PrinterLogEntry::Kind kind, const QString& text, const QByteArray& bytes,
                          const QString& name, const QVariant& value) {
    emit logged(PrinterLogEntry{now_, kind, bytes, text, name, value});
}

void VirtualPrinter::stamp(PrinterLogEntry entry) {
    entry.timeMs = now_;
    emit logged(entry);
}

void VirtualPrinter::setPaperOut(bool out) {
    const bool was = paperOut();
    head_.setPaperOut(out); // a loss is warned about again, switched or not
    panelSwitched(was, out, QStringLiteral("Sem papel"), QStringLiteral("Papel colocado"),
                  QStringLiteral("paper-out"));
}

void VirtualPrinter::setOffline(bool offline) {
    const bool was = offline_;
    offline_ = offline;
    panelSwitched(was, offline, QStringLiteral("Off-line"), QStringLiteral("On-line"),
                  QStringLiteral("offline"));
}

void VirtualPrinter::panelSwitched(bool was, bool on, const QString& onText, const QString& offText,
                                   const QString& name) {
    if (was == on)
        return;
    note(PrinterLogEntry::Kind::Command, on ? onText : offText, {}, name, on);
    printDue(0);
    changed();
}

void VirtualPrinter::pressFeedKey() {
    if (!keyboard()) {
        note(PrinterLogEntry::Kind::Warning,
             QStringLiteral("Tecla de avanço ignorada: teclado desligado"), {},
             QStringLiteral("feed-key-ignored"));
        return;
    }
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Tecla de avanço"), {},
         QStringLiteral("feed-key"));
    interpreter_.feedKey();
    printDue(0);
    changed();
}

void VirtualPrinter::setModel(PrinterModel model) {
    if (model_ == model)
        return;
    model_ = model;
    interpreter_.setModel(model);
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
    interpreter_.powerReset();
    note(PrinterLogEntry::Kind::Command, QStringLiteral("Impressora reiniciada"), {},
         QStringLiteral("power-reset"));
    changed();
}

void VirtualPrinter::clearPaper() {
    head_.clearPaper();
    dirtyPaper_ = true;
    emit paperCleared();
    changed();
}

void VirtualPrinter::logEvent(const QString& text, const QString& name, const QVariant& value) {
    note(PrinterLogEntry::Kind::Command, text, {}, name, value);
}

void VirtualPrinter::logWarning(const QString& text, const QString& name, const QVariant& value) {
    note(PrinterLogEntry::Kind::Warning, text, {}, name, value);
}

void VirtualPrinter::changed() {
    if (dirtyPaper_) {
        dirtyPaper_ = false;
        emit paperChanged();
    }
    emit stateChanged();
}
