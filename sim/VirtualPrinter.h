#pragma once

#include "sim/PaperModel.h"
#include "sim/PrintQueue.h"
#include "sim/PrinterModel.h"
#include "sim/PrinterParser.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <array>
#include <optional>
#include <span>

// The Korvexa Dual emulation: takes the bytes the program sends, keeps them in
// a receive buffer of finite size, prints them at a finite speed onto a paper
// roll, answers the three queries and drives the lines a serial or parallel
// attachment shows the host (ready, error). It runs on one thread (the GUI
// thread in the program); time moves only through advance(), so tests step it.
//
// The bytes go parser -> interpreter -> print queue -> paper: PrinterParser
// cuts them into commands, this class acts on them (VirtualPrinter.cpp keeps
// the host's side, the panel and the clock, PrinterCommands.cpp the commands,
// PrinterLines.cpp the lines it builds and prints), and PrintQueue alone
// counts what the buffer holds. Settings and queries take effect as they are
// parsed and hold nothing; printing is queued and leaves the buffer at the
// print speed. Every parameter is taken only in the command set's own
// encoding (the keyboard's 0x01, not '1'); a command with any other parameter
// byte is logged as a warning and changes nothing.
//
// The status reply is 9 bytes: 0x06, then eight characters, one per sensor:
//   1 paper        'P' present        'S' out ("Sem papel"; 'P' with the sensor off)
//   2 line         'L' on-line        'F' off-line
//   3 drawer       'F' closed         'A' open
//   4 paper sensor '1' on             '0' off
//   5 keyboard     '1' on             '0' off
//   6 RTS signal   '0' on/off-line    '1' authentication
//   7 buffer       'V' empty          'D' holding data   'C' nearly full
//   8 mode         'N' normal         'D' dump
// The identification replies are 17 bytes: 0x06 and sixteen characters.

struct PrinterLogEntry {
    enum class Kind {
        Received, // bytes from the host
        Sent,     // a reply to the host
        Command,  // what a complete command did
        Warning,  // an unknown sequence, a lost byte, a bad parameter
        Event,    // what happened at the head: the drawer opened, a page ended
    };
    qint64 timeMs = 0; // printer time, see VirtualPrinter::now()
    Kind kind = Kind::Received;
    QByteArray bytes;
    QString text;
    // For programs reading the log: a fixed name ("page-size", "drawer-open")
    // and the value the command set, when it has one.
    QString name;
    QVariant value;
};

class VirtualPrinter : public QObject, private PrinterParser::Sink {
    Q_OBJECT
public:
    static constexpr int DefaultBufferSize = 4096;
    static constexpr double DefaultLinesPerSecond = 8.0;
    // 0 prints as fast as the bytes arrive; otherwise this range.
    static constexpr double MinLinesPerSecond = 0.1;
    static constexpr double MaxLinesPerSecond = 1000.0;
    static constexpr int DefaultColumns = 48;
    static constexpr int DefaultPageLines = 30;
    static constexpr qint64 DrawerOpenMs = 3000;
    static constexpr qint64 DumpIdleFlushMs = 500;
    static constexpr int DumpBytesPerLine = 8;
    // The most the buffer holds of what is not yet a job: the longest line,
    // authentication or bit-image row being received, or a command's bytes.
    static constexpr int MaxHeldBytes = 512;

    static const QByteArray CompatibleModelName; // "Korvex BM  40/48"
    static const QByteArray DualModelName;
    static const QByteArray FirmwareName;

    explicit VirtualPrinter(PrinterModel model = PrinterModel::KorvexaDual,
                            QObject* parent = nullptr);

    // Bytes from the host, in order, as the line or the port delivers them.
    void receive(const QByteArray& bytes);
    // Moves the printer's clock on: prints what the speed allows, closes the drawer.
    void advance(qint64 ms);
    qint64 now() const { return now_; }
    // Whether time passing would change anything: lines to print, the drawer
    // to close, a dump line to finish.
    bool hasWork() const;

    // The host's view. Ready is the serial ready line (CTS): off while the
    // buffer is nearly full; besides, with RTS signalling "on/off line" off
    // while off-line, with "autenticação" off from the end of an
    // authentication's text until it has printed. Busy is the parallel busy
    // line: off-line or the buffer nearly full. Fault: off-line, or paper out
    // while the paper sensor is on (the parallel error line).
    bool ready() const;
    bool busy() const { return offline_ || queue_.nearlyFull(); }
    bool fault() const { return offline_ || paperSensed(); }
    // The parallel status register as the port reads it: bit 3 set without a
    // fault, bit 4 select (on-line), bit 5 paper end, bit 7 set when not busy.
    uint8_t parallelStatus() const;

    // The panel.
    void setPaperOut(bool out);
    bool paperOut() const { return paperOut_; }
    void setOffline(bool offline);
    bool offline() const { return offline_; }
    void setModel(PrinterModel model);
    PrinterModel model() const { return model_; }
    // 0, or clamped to MinLinesPerSecond .. MaxLinesPerSecond: callers that
    // take the speed from a person refuse other values first.
    void setLinesPerSecond(double lines);
    double linesPerSecond() const { return linesPerSecond_; }
    void setBufferSize(int bytes); // clamped to 1 KiB .. 1 MiB
    int bufferSize() const { return queue_.capacity(); }
    int bufferFill() const { return queue_.fill(); }
    // Bytes the buffer can still take without losing any.
    int room() const { return queue_.room(); }
    // The printer's own reset: buffer emptied, dump mode left, modes and
    // downloaded characters back to power-on.
    void powerReset();
    // Tears the paper off: the roll starts empty.
    void clearPaper();
    // The panel's paper feed key: one blank line, while the keyboard is on.
    void pressFeedKey();
    // Puts an event of the printer's surroundings (a port opened) in the log.
    void logEvent(const QString& text, const QString& name = QStringLiteral("event"));
    // Puts a fault of the printer's surroundings (a reply nobody read) in the log.
    void logWarning(const QString& text, const QString& name = QStringLiteral("warning"),
                    const QVariant& value = {});

    // What the commands have set.
    bool drawerOpen() const { return drawerOpen_; }
    int drawerOpenings() const { return drawerOpenings_; }
    bool dumpMode() const { return parser_.dumpMode(); }
    bool paperSensor() const { return paperSensor_; }
    bool keyboard() const { return keyboard_; }
    int rtsSignalling() const { return rtsSignalling_; } // 0 on/off-line, 1 authentication
    int columnsPerLine() const { return columns_; }
    int pageLines() const { return pageLines_; }
    // The lines the last line feed command asked for; -1 before the first.
    int lastLineFeed() const { return lastLineFeed_; }
    PrintStyle style() const { return style_; }
    std::optional<GlyphColumns> userCharacter(uint8_t code) const;
    int lostBytes() const { return lostBytes_; }

    const PaperRoll& paper() const { return paper_; }
    // The text line not yet ended, as it would print.
    PaperLine unfinishedLine() const;

    QByteArray statusReply() const;
    QByteArray identificationReply(const QByteArray& text) const;
    static QString modelText(PrinterModel model);

signals:
    void replied(const QByteArray& bytes); // to the host
    void paperChanged();
    void printed(const PaperLine& line); // each line as it reaches the paper
    void paperCleared();
    void stateChanged(); // anything the panel shows, the lines included
    void logged(const PrinterLogEntry& entry);

private:
    using Job = PrintQueue::Job;
    using Parsed = PrinterParser::Parsed;

    // What the parser hands over (PrinterCommands.cpp).
    void text(uint8_t byte) override;
    void command(const Parsed& parsed) override;
    void unknownEscape(uint8_t letter) override;
    void authenticationText(uint8_t byte) override;
    void authenticationEnd(bool cut) override;
    void imageColumn(uint8_t byte) override;
    void imageEnd() override;
    void dumpByte(uint8_t byte) override;

    // One handler per command family (PrinterCommands.cpp).
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

    // The lines built and printed (PrinterLines.cpp).
    PaperCell makeCell(uint8_t code, PrintStyle style) const;
    void putCharacter(uint8_t code);
    void printPending();
    void queueLine(PaperLine line, bool takesPaper);
    void queueJob(Job job);
    void feedLines(int count);
    void queueFeed(int count); // blank lines only
    void formFeed();
    void flushDump();
    void resetModes();
    void printJob(const Job& job);
    void putOnPaper(PaperLine line);
    void openDrawer();
    PaperLine emptyLine(PaperLine::Kind kind = PaperLine::Kind::Text) const;

    // The host's side, the panel and the clock (VirtualPrinter.cpp).
    int heldBytes() const;
    void settle();
    void printDue(qint64 ms);
    qint64 lineMs() const;
    bool paperSensed() const { return paperOut_ && paperSensor_; }
    void note(PrinterLogEntry::Kind kind, const QString& text, const QByteArray& bytes = {},
              const QString& name = {}, const QVariant& value = {});
    // The panel's paper and off-line switches, which change printing and the lines.
    void setPanelSwitch(bool& state, bool on, const QString& onText, const QString& offText,
                        const QString& name);
    void reply(const QByteArray& bytes);
    void changed();

    PrinterModel model_;
    PrinterParser parser_;
    PrintQueue queue_;
    PaperRoll paper_;
    qint64 now_ = 0;

    // Panel and sensors.
    bool paperOut_ = false;
    bool offline_ = false;
    double linesPerSecond_ = DefaultLinesPerSecond;
    int lostBytes_ = 0;
    bool drawerOpen_ = false;
    qint64 drawerClosesAt_ = 0;
    int drawerOpenings_ = 0;
    bool noPaperWarned_ = false;

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
    int authenticationsWaiting_ = 0; // received whole, not yet printed
    bool imageRejected_ = false;     // its columns are taken and dropped
    bool imageDouble_ = false;
    bool imageClipped_ = false;
    QByteArray imageDots_;
    int imageBytes_ = 0;
    QByteArray dumpBytes_;
    int linesOnPage_ = 0;
    qint64 lastReceiveMs_ = 0;
    bool dirtyPaper_ = false;
};
