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

// The Korvexa Dual emulation: takes the bytes the program sends, keeps them in
// a receive buffer of finite size, prints them at a finite speed onto a paper
// roll, answers the three queries and drives the lines a serial or parallel
// attachment shows the host (ready, error). It runs on one thread (the GUI
// thread in the program); time moves only through advance(), so tests step it.
//
// Commands are parsed as the bytes arrive: settings and queries take effect at
// once, printing is queued and leaves the buffer at the print speed.
//
// The status reply is 9 bytes: 0x06, then eight characters, one per sensor:
//   1 paper        'P' present        'S' out ("Sem papel")
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

    // The host's view. Ready: on-line and the buffer not nearly full (CTS on,
    // busy off). Fault: paper out or off-line (the parallel error line).
    bool ready() const;
    bool fault() const { return offline_ || paperOut_; }
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

    void take(uint8_t byte);
    void takeText(uint8_t byte);
    void takeEscape(uint8_t byte);
    void runCommand();
    void takeDump(uint8_t byte);
    int parameterCount(uint8_t letter) const;
    void finishCommand(); // bytes of a command that prints nothing
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
    void openDrawer();
    qint64 lineMs() const;
    void note(PrinterLogEntry::Kind kind, const QString& text, const QByteArray& bytes = {});
    // The panel's paper and off-line switches: both stop printing and change readiness.
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
    std::array<std::optional<GlyphColumns>, 16> userChars_;

    // The parser.
    Parse parse_ = Parse::Text;
    uint8_t letter_ = 0;
    QByteArray params_;
    int needed_ = 0;
    int imageRemaining_ = 0;
    QByteArray imageDots_;
    bool imageDouble_ = false;
    bool imageClipped_ = false;
    QList<PaperCell> authText_;
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
