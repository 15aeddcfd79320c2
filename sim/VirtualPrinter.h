#pragma once

#include "sim/PaperModel.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <algorithm>
#include <array>
#include <deque>
#include <optional>
#include <span>

// The Korvexa Dual emulation: takes the bytes the program sends, keeps them in
// a receive buffer of finite size, prints them at a finite speed onto a paper
// roll, answers the three queries and drives the lines a serial or parallel
// attachment shows the host (ready, error). It runs on one thread (the GUI
// thread in the program); time moves only through advance(), so tests step it.
//
// Commands are parsed as the bytes arrive: settings and queries take effect at
// once, printing is queued and leaves the buffer at the print speed. Every
// parameter is taken only in the command set's own encoding (the keyboard's
// 0x01, not '1'); a command with any other parameter byte is logged as a
// warning and changes nothing.
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

enum class PrinterModel {
    KorvexaDual, // the normal dialect: ESC v status, ESC p drawer, ESC a feed
    Compatible,  // the 40/48-column model: ESC V status, ESC v n drawer, ESC f 1 n feed
};

struct PrinterLogEntry {
    enum class Kind {
        Received, // bytes from the host
        Sent,     // a reply to the host
        Command,  // what a complete command did
        Warning,  // an unknown sequence, a lost byte, a bad parameter
    };
    qint64 timeMs = 0; // printer time, see VirtualPrinter::now()
    Kind kind = Kind::Received;
    QByteArray bytes;
    QString text;
};

class VirtualPrinter : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultBufferSize = 4096;
    static constexpr double DefaultLinesPerSecond = 8.0;
    static constexpr int DefaultColumns = 48;
    static constexpr int DefaultPageLines = 30;
    static constexpr qint64 DrawerOpenMs = 3000;
    static constexpr qint64 DumpIdleFlushMs = 500;

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
    bool busy() const { return offline_ || nearlyFull_; }
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
    void setLinesPerSecond(double lines); // clamped to 0.1 .. 1000
    double linesPerSecond() const { return linesPerSecond_; }
    void setBufferSize(int bytes); // clamped to 1 KiB .. 1 MiB
    int bufferSize() const { return bufferSize_; }
    int bufferFill() const;
    // Bytes the buffer can still take without losing any.
    int room() const { return std::max(0, bufferSize_ - bufferFill()); }
    // The printer's own reset: buffer emptied, dump mode left, modes and
    // downloaded characters back to power-on.
    void powerReset();
    void clearPaper();
    // The panel's paper feed key: one blank line, while the keyboard is on.
    void pressFeedKey();
    // Puts an event of the printer's surroundings (a port opened) in the log.
    void logEvent(const QString& text);
    // Puts a fault of the printer's surroundings (a reply nobody read) in the log.
    void logWarning(const QString& text);

    // What the commands have set.
    bool drawerOpen() const { return drawerOpen_; }
    int drawerOpenings() const { return drawerOpenings_; }
    bool dumpMode() const { return dumpMode_; }
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

    QByteArray statusReply() const;
    QByteArray identificationReply(const QByteArray& text) const;
    static QString modelText(PrinterModel model);

signals:
    void replied(const QByteArray& bytes); // to the host
    void paperChanged();
    void stateChanged(); // anything the panel shows, the lines included
    void logged(const PrinterLogEntry& entry);

private:
    struct Job {
        enum class Kind { Line, Drawer };
        Kind kind = Kind::Line;
        PaperLine line;
        int bytes = 0;
    };
    enum class Parse { Text, Escape, Parameters, Authentication, ImageData };
    // A command the printer knows in the current dialect: how many parameter
    // bytes follow its letter, and what runs once they are in.
    struct CommandRow {
        uint8_t letter;
        int parameters;
        void (VirtualPrinter::*run)();
    };
    static const CommandRow* commandFor(uint8_t letter, PrinterModel model);

    // The parser.
    void take(uint8_t byte);
    void takeText(uint8_t byte);
    void takeEscape(uint8_t byte);
    void takeParameter(uint8_t byte);
    void takeAuthenticationText(uint8_t byte);
    void takeImageData(uint8_t byte);
    void takeDump(uint8_t byte);
    void runCommand();

    // One handler per command family, run with the parameters in params_.
    void runReset();
    void runDumpMode();
    void runPrintMode();
    void runRtsSignalling();
    void runAuthentication();
    void runPageSize();
    void runCharactersPerLine();
    void runPaperSensor();
    void runLineFeed();
    void runKeyboard();
    void runDrawer();
    void runStatusRequest();
    void runIdentification();
    void runUserCharacter();
    void runBitImage();

    QByteArray commandBytes() const;
    uint8_t param(int index) const { return static_cast<uint8_t>(params_[index]); }
    // The position of parameter index among the values its command takes;
    // nothing, with the warning logged and the command's bytes let go, for
    // any other byte.
    std::optional<int> pick(int index, std::span<const uint8_t> values, const QString& command);
    void reject(int index, const QString& command);
    void done(const QString& what); // logs a command that prints nothing
    void finishCommand();           // bytes of a command that prints nothing
    void endAuthentication();

    void putCharacter(uint8_t code);
    PaperCell makeCell(uint8_t code, PrintStyle style) const;
    void printPending();
    void queueLine(PaperLine line, bool takesPaper);
    void queueBlankLines(int count);
    void queueMarker(const QString& note);
    void queueJob(Job job);
    void feedLines(int count);
    void formFeed();
    void flushDump();
    void resetModes();
    void printQueue(qint64 ms);
    void printJob(Job& job);
    void openDrawer();
    qint64 lineMs() const;
    bool paperSensed() const { return paperOut_ && paperSensor_; }
    void note(PrinterLogEntry::Kind kind, const QString& text, const QByteArray& bytes = {});
    // The panel's paper and off-line switches, which change printing and the lines.
    void setPanelSwitch(bool& state, bool on, const QString& onText, const QString& offText);
    void reply(const QByteArray& bytes);
    void updateReadiness();
    void changed();

    PrinterModel model_;
    PaperRoll paper_;
    qint64 now_ = 0;

    // Panel and sensors.
    bool paperOut_ = false;
    bool offline_ = false;
    double linesPerSecond_ = DefaultLinesPerSecond;
    int bufferSize_ = DefaultBufferSize;
    bool nearlyFull_ = false;
    int lostBytes_ = 0;
    bool drawerOpen_ = false;
    qint64 drawerClosesAt_ = 0;
    int drawerOpenings_ = 0;

    // Set by commands.
    PrintStyle style_;
    int columns_ = DefaultColumns;
    int pageLines_ = DefaultPageLines;
    bool paperSensor_ = true;
    bool keyboard_ = true;
    int rtsSignalling_ = 0;
    bool dumpMode_ = false;
    int lastLineFeed_ = -1;
    std::array<std::optional<GlyphColumns>, 16> userChars_;

    // The parser.
    Parse parse_ = Parse::Text;
    const CommandRow* command_ = nullptr;
    QByteArray params_;
    int imageRemaining_ = 0;
    QByteArray imageDots_;
    bool imageDouble_ = false;
    bool imageClipped_ = false;
    bool imageRejected_ = false;    // its data are taken and dropped
    std::optional<int> authDevice_; // none: the text is taken and dropped
    QList<PaperCell> authText_;
    int authenticationsWaiting_ = 0; // received whole, not yet printed
    bool noPaperWarned_ = false;
    QList<PaperCell> pending_; // the text line being filled
    int pendingColumns_ = 0;
    int linesOnPage_ = 0;
    QByteArray dumpBytes_;
    qint64 lastReceiveMs_ = 0;

    // The receive buffer: queued jobs and the bytes not yet part of one.
    std::deque<Job> queue_;
    int queuedBytes_ = 0;
    int pendingBytes_ = 0; // pending text and any command being parsed
    qint64 credit_ = 0;    // print time earned towards the job at the front
    bool dirtyPaper_ = false;
};
