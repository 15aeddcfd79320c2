#pragma once

#include "sim/printer/LineSettings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <optional>

class QSocketNotifier;
class VirtualPrinter;

// Serves the virtual printer on a pseudo-terminal, so that any serial program
// can open the terminal's path as its port: what the program writes goes to
// the printer, the printer's replies come back as the port's input.
//
// A pseudo-terminal has no modem lines, so the printer is always "ready"
// there and the only flow control left is to stop reading: while the
// printer's buffer is full the bytes stay in the terminal and the writer
// blocks, so nothing written is ever lost. Replies go out as the terminal
// takes them; one the host has not read within the write time-out of the
// printer's interface is dropped and logged, whether it still waits here or
// in the terminal's input queue, so a host that never reads cannot stall the
// printer, nor find an old reply in front of the one it asks for next. So a
// reply has left only once the host has read all of it: it is logged as
// sent then (the device node says when the host reads), else as dropped.
//
// The server holds the terminal's own end open too: the terminal starts raw
// (no echo of the printer's input back to it) and survives programs opening
// and closing it one after another. Because of that the terminal never hangs
// up, so the server watches the opens and closes of its device node. When
// the last program closes it, the bytes it wrote before its close are still
// taken (their replies have nobody to go to), every reply it did not read is
// dropped, as a real port forgets its input at close, and the terminal is
// set back to 9600 bit/s 8N1 raw and out of exclusive mode, so the next open
// starts clean whatever the last program did or however it ended.
//
// A program that writes without pause cannot hold the printer's other work
// up: each turn of the event loop takes a bounded share of its bytes.
//
// The terminal carries the program's line settings (rate, data bits,
// parity, stop bits) as a serial port would: bytes that come while they
// differ from the printer's own line are line noise, not printed, counted,
// and said once (line-mismatch) until the settings change or the program
// closes the terminal.
class PtyServer : public QObject {
    Q_OBJECT
public:
    explicit PtyServer(VirtualPrinter* printer, const LineSettings& line = {},
                       QObject* parent = nullptr);
    ~PtyServer() override;

    // False with *error set when the terminal cannot be made.
    bool open(QString* error);
    // The terminal's path, for example /dev/pts/3.
    QString path() const { return path_; }
    // Whether a program has the terminal open.
    bool inUse() const { return openers_ > 0; }
    // The settings the program has put on the terminal, and the bytes it
    // sent with settings other than the printer's.
    LineSettings clientLine() const;
    qint64 noise() const { return noise_; }

    // How long a reply of this many bytes waits for the host: the interface's
    // write time-out, 1000 ms and 100 ms per byte.
    static qint64 replyTimeoutMs(qsizetype bytes) { return 1000 + 100 * bytes; }

    // At the end: takes what is still waiting in the terminal (at most
    // maxBytes, for at most maxMs: a program that goes on writing cannot
    // hold the end up), printing as much as needed to make room for it, so
    // that what a program wrote before the printer was stopped still reaches
    // the paper.
    void takeWaitingBytes(qsizetype maxBytes = 1 << 20, qint64 maxMs = 1000);
    // Ends the terminal: a program that has it open reads its end.
    void close();

private:
    struct Reply {
        QByteArray bytes;
        qsizetype written = 0; // of bytes, into the terminal
        qint64 deadline = 0;
        qint64 end = -1; // written_ once all of it is in the terminal
    };

    bool setRaw(QString* error);
    bool watchOpens(QString* error);
    void openedOrClosed();
    void hostRead();
    void lastClosed(bool reopened);
    void keepClosedBytes(bool reopened);
    void readable();
    void take(const QByteArray& bytes);
    bool lineFits(qsizetype bytes);
    qsizetype takeClosed(qsizetype room);
    void followPrinter();
    void reply(const QByteArray& bytes);
    void writeReplies();
    bool forgetRead(bool unsettled);
    void dropLateReplies();
    void dropUnread(const QString& why);
    void armTimer(qint64 deadline);

    VirtualPrinter* printer_;
    LineSettings line_;
    std::optional<LineSettings> mismatchSaid_; // the client's settings last said to differ
    qint64 noise_ = 0;
    int master_ = -1;
    int terminal_ = -1;
    QString path_;
    QSocketNotifier* reader_ = nullptr;
    QSocketNotifier* writer_ = nullptr;
    int watch_ = -1; // inotify on the terminal's device node
    QSocketNotifier* watcher_ = nullptr;
    int openers_ = 0;
    // Bytes a program that has closed the terminal wrote before its close,
    // still to be taken: their replies are never written.
    QByteArray closed_;
    bool receiving_ = false; // the printer is taking bytes from here
    std::deque<Reply> replies_;
    size_t unsent_ = 0;    // replies_ before this index are wholly in the terminal
    qint64 written_ = 0;   // reply bytes put into the terminal so far
    qint64 lastWrite_ = 0; // clock_ at the last of them
    QElapsedTimer clock_;
    QTimer lateReplies_;
    bool lateCountPutOff_ = false;
    QTimer readSettled_; // the host's read is counted once the terminal has passed on our writes
    QTimer moreClosed_;  // a closed program's bytes are taken on without the terminal's wake-up
};
