#pragma once

#include "sim/paper/PaperModel.h"

#include <QObject>
#include <QString>
#include <QTemporaryFile>

#include <memory>

class QFile;
class VirtualPrinter;

// Every line printed since the paper was last torn off, kept in a temporary
// file rather than in memory, so that the text and the pictures of a roll of
// any length can be written whenever asked, as often as asked. The files are
// written from a snapshot, which another thread may read while printing goes
// on: lines are only ever appended to a spool, and tearing the paper off
// starts a new one.
class PaperSpool : public QObject {
    Q_OBJECT
public:
    // The roll as it is at one moment: the spool read through a handle of its
    // own, up to the lines printed then, and the line not yet ended.
    struct Snapshot {
        std::shared_ptr<QFile> spool;
        qint64 lines = 0;
        PaperLine unfinished;
    };

    explicit PaperSpool(VirtualPrinter* printer, QObject* parent = nullptr);

    bool open(QString* error);
    qint64 lines() const { return lines_; }
    // The roll now; a null spool with *error set when it cannot be read back.
    Snapshot snapshot(QString* error);
    // The roll as text (PaperText.h), with a note of a line not yet ended.
    static bool writeText(const Snapshot& roll, const QString& path, QString* error);
    // The roll as PNG pages, pixelsPerDot pixels to a dot (PaperPages.h);
    // *pages: those of the last save before, then those written now.
    static bool writePng(const Snapshot& roll, const QString& path, int pixelsPerDot, int* pages,
                         QString* error);

private:
    void append(const PaperLine& line);
    void tear();

    VirtualPrinter* printer_;
    std::unique_ptr<QTemporaryFile> file_;
    qint64 lines_ = 0;
};
