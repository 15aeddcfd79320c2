#pragma once

#include "sim/paper/PaperModel.h"
#include "sim/printer/PrintQueue.h"
#include "sim/printer/PrinterLog.h"
#include "sim/printer/PrinterModel.h"
#include "sim/printer/PrinterParser.h"

#include <QList>
#include <QObject>

#include <array>
#include <optional>
#include <span>

// What the printer makes of the bytes it takes: its parser cuts them into
// pieces, and this class acts on each. Settings and modes change as they are
// parsed and hold nothing; queries are handed on, to be answered by whoever
// speaks to the host; what prints becomes jobs in the print queue, each
// carrying the buffer bytes it frees and all the head needs to print it. It
// never looks back at the host, the panel or the paper: what it did shows in
// the queue, in its settings and in its signals.
//
// PrinterInterpreter.cpp acts on the commands, PrinterInterpreter_lines.cpp builds the lines.
// Every parameter is taken only in the command set's own encoding (the
// keyboard's 0x01, not '1'); a command with any other parameter byte is
// logged as a warning and changes nothing.
class PrinterInterpreter : public QObject, private PrinterParser::Sink {
    Q_OBJECT
public:
    static constexpr int DefaultColumns = 48;
    static constexpr int DefaultPageLines = 30;
    static constexpr int DumpBytesPerLine = 8;

    enum class Query { Status, Model, Firmware };

    PrinterInterpreter(PrintQueue& queue, PrinterModel model, QObject* parent = nullptr);

    // One byte the buffer had room for; the queue's held bytes follow.
    void take(uint8_t byte);
    void setModel(PrinterModel model) { parser_.setModel(model); }
    // The power switch: out of dump mode, modes, text being built and
    // downloaded characters back to power-on. The caller empties the queue.
    void powerReset();
    // The panel's feed key: one blank line behind what is queued.
    void feedKey();
    // A dump line waits for eight bytes; when the host has stopped, the rest prints.
    bool dumpWaiting() const { return !dumpBytes_.isEmpty(); }
    void flushDump();

    bool dumpMode() const { return parser_.dumpMode(); }
    bool paperSensor() const { return paperSensor_; }
    bool keyboard() const { return keyboard_; }
    int rtsSignalling() const { return rtsSignalling_; } // 0 on/off-line, 1 authentication
    int columnsPerLine() const { return columns_; }
    int pageLines() const { return pageLines_; }
    int lastLineFeed() const { return lastLineFeed_; } // -1 before the first
    PrintStyle style() const { return style_; }
    std::optional<GlyphColumns> userCharacter(uint8_t code) const;
    // The text line not yet ended, as it would print.
    PaperLine unfinishedLine() const;

signals:
    void asked(PrinterInterpreter::Query query);
    void logged(const PrinterLogEntry& entry); // the printer stamps the time
    // ESC 8 or ESC 9: a paper-out loss deserves a warning again.
    void paperSensorSet();

private:
    using Job = PrintQueue::Job;
    using Parsed = PrinterParser::Parsed;

    // What the parser hands over (PrinterInterpreter.cpp).
    void text(uint8_t byte) override;
    void command(const Parsed& parsed) override;
    void unknownEscape(uint8_t letter) override;
    void authenticationText(uint8_t byte) override;
    void authenticationEnd(bool cut) override;
    void imageColumn(uint8_t byte) override;
    void imageEnd() override;
    void dumpByte(uint8_t byte) override;

    // One handler per command family (PrinterInterpreter.cpp).
    void runReset(const Parsed& c);
    void runDumpMode(const Parsed& c);
    void runPrintMode(const Parsed& c);
    void runRtsSignalling(const Parsed& c);
    void runAuthentication(const Parsed& c);
    void runPageSize(const Parsed& c);
    void runCharactersPerLine(const Parsed& c);
    void runPaperSensor(const Parsed& c);
    void runLineFeed(const Parsed& c);
    void runKeyboard(const Parsed& c);
    void runDrawer(const Parsed& c);
    void runStatusRequest(const Parsed& c);
    void runIdentification(const Parsed& c);
    void runUserCharacter(const Parsed& c);
    void runBitImage(const Parsed& c);
    // The position of the parameter among the values its command takes;
    // nothing, with the warning logged, for any other byte.
    std::optional<int> pick(const Parsed& c, int index, std::span<const uint8_t> values,
                            const QString& command);
    void reject(const Parsed& c, int index, const QString& command);
    void done(const Parsed& c, const QString& what, const QString& name,
              const QVariant& value = {});
    void note(PrinterLogEntry::Kind kind, const QString& text, const QByteArray& bytes = {},
              const QString& name = {}, const QVariant& value = {});

    // The lines built and queued (PrinterInterpreter_lines.cpp).
    PaperCell makeCell(uint8_t code, PrintStyle style) const;
    void putCharacter(uint8_t code);
    void printPending();
    void queueLine(PaperLine line, bool takesPaper);
    void queueJob(Job job);
    void feedLines(int count);
    void queueFeed(int count); // blank lines only
    void formFeed();
    void resetModes();
    PaperLine emptyLine(PaperLine::Kind kind = PaperLine::Kind::Text) const;
    // What has been taken in and is not yet a job.
    int heldBytes() const;
    void settle();

    PrintQueue& queue_;
    PrinterParser parser_;

    // Set by commands.
    PrintStyle style_;
    int columns_ = DefaultColumns;
    int pageLines_ = DefaultPageLines;
    bool paperSensor_ = true;
    bool keyboard_ = true;
    int rtsSignalling_ = 0;
    int lastLineFeed_ = -1;
    std::array<std::optional<GlyphColumns>, 16> userChars_;

    // What is being put together, and the buffer bytes each part holds.
    int unitBytes_ = 0;        // of the byte or command being acted on now
    QList<PaperCell> pending_; // the text line being filled
    int pendingColumns_ = 0;
    int pendingBytes_ = 0;
    std::optional<int> authDevice_; // none: the text is taken and dropped
    QList<PaperCell> authText_;
    int authBytes_ = 0;
    bool imageRejected_ = false; // its columns are taken and dropped
    bool imageDouble_ = false;
    bool imageClipped_ = false;
    QByteArray imageDots_;
    int imageBytes_ = 0;
    QByteArray dumpBytes_;
    int linesOnPage_ = 0;
};
