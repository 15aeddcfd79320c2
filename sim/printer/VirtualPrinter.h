#pragma once

#include "sim/paper/PaperModel.h"
#include "sim/printer/PrintHead.h"
#include "sim/printer/PrintQueue.h"
#include "sim/printer/PrinterInterpreter.h"
#include "sim/printer/PrinterLog.h"
#include "sim/printer/PrinterModel.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

// The Korvexa Dual emulation: takes the bytes the program sends, keeps them in
// a receive buffer of finite size, prints them at a finite speed onto a paper
// roll, answers the three queries and drives the lines a serial or parallel
// attachment shows the host (ready, error). It runs on one thread (the GUI
// thread in the program); time moves only through advance(), so tests step it.
//
// The bytes run one way: this class takes them from the host, the
// interpreter (with its parser) turns them into settings, queries and print
// jobs, the print queue alone counts what the buffer holds and paces the
// jobs, and the print head puts them on the paper. This class keeps the
// host's side (the bytes in, the replies out, the ready, busy and error
// lines), the panel and the clock, and answers the queries the interpreter
// hands on; printing is queued and leaves the buffer at the print speed.
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

class VirtualPrinter : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultBufferSize = 4096;
    static constexpr double DefaultLinesPerSecond = 8.0;
    // 0 prints as fast as the bytes arrive; otherwise this range.
    static constexpr double MinLinesPerSecond = 0.1;
    static constexpr double MaxLinesPerSecond = 1000.0;
    static constexpr int DefaultColumns = PrinterInterpreter::DefaultColumns;
    static constexpr int DefaultPageLines = PrinterInterpreter::DefaultPageLines;
    static constexpr qint64 DrawerOpenMs = PrintHead::DrawerOpenMs;
    static constexpr qint64 DumpIdleFlushMs = 500;
    static constexpr int DumpBytesPerLine = PrinterInterpreter::DumpBytesPerLine;
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
    // while off-line or out of paper with the sensor on, with "autenticação" off from the end of an
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
    bool paperOut() const { return head_.paperOut(); }
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
    // A host that says when each reply has left (replyLeft) has it logged as
    // sent then, not when it is made: one that never leaves is the host's
    // to log as dropped. Off by default, for hosts that take replies at once.
    void setReportsDelivery(bool reports) { reportsDelivery_ = reports; }
    void replyLeft(const QByteArray& bytes);
    // Puts an event of the printer's surroundings (a port opened) in the log.
    void logEvent(const QString& text, const QString& name = QStringLiteral("event"),
                  const QVariant& value = {});
    // Puts a fault of the printer's surroundings (a reply nobody read) in the log.
    void logWarning(const QString& text, const QString& name = QStringLiteral("warning"),
                    const QVariant& value = {});

    // What the commands have set.
    bool drawerOpen() const { return head_.drawerOpen(); }
    int drawerOpenings() const { return head_.drawerOpenings(); }
    bool dumpMode() const { return interpreter_.dumpMode(); }
    bool paperSensor() const { return interpreter_.paperSensor(); }
    bool keyboard() const { return interpreter_.keyboard(); }
    // 0 on/off-line, 1 authentication
    int rtsSignalling() const { return interpreter_.rtsSignalling(); }
    int columnsPerLine() const { return interpreter_.columnsPerLine(); }
    int pageLines() const { return interpreter_.pageLines(); }
    // The lines the last line feed command asked for; -1 before the first.
    int lastLineFeed() const { return interpreter_.lastLineFeed(); }
    PrintStyle style() const { return interpreter_.style(); }
    std::optional<GlyphColumns> userCharacter(uint8_t code) const {
        return interpreter_.userCharacter(code);
    }
    int lostBytes() const { return lostBytes_; }

    const PaperRoll& paper() const { return head_.paper(); }
    // The text line not yet ended, as it would print.
    PaperLine unfinishedLine() const { return interpreter_.unfinishedLine(); }

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
    void answer(PrinterInterpreter::Query query);
    void stamp(PrinterLogEntry entry);
    void printDue(qint64 ms);
    qint64 lineMs() const;
    bool paperSensed() const { return paperOut() && paperSensor(); }
    void note(PrinterLogEntry::Kind kind, const QString& text, const QByteArray& bytes = {},
              const QString& name = {}, const QVariant& value = {});
    // The panel's paper and off-line switches, which change printing and the lines.
    void panelSwitched(bool was, bool on, const QString& onText, const QString& offText,
                       const QString& name);
    void reply(const QByteArray& bytes);
    void changed();

    PrinterModel model_;
    PrintQueue queue_;
    PrinterInterpreter interpreter_;
    PrintHead head_;
    qint64 now_ = 0;

    // Panel.
    bool offline_ = false;
    double linesPerSecond_ = DefaultLinesPerSecond;
    int lostBytes_ = 0;
    qint64 lastReceiveMs_ = 0;
    bool dirtyPaper_ = false;
    bool reportsDelivery_ = false;
};
