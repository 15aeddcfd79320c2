#pragma once

#include "sim/paper/PaperModel.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QObject>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class PaperPages;
class VirtualPrinter;

// The paper for people watching from elsewhere: the roll now, and the last
// receipts torn off it, each as the PNG pages --png writes (the same pages,
// drawn by the same code, so a picture seen is a picture saved) and as the
// text --text writes. Finished pages and the text are kept in a temporary
// folder as they print; only the page still being printed is held in memory
// and drawn when asked, so a roll of any length costs the memory of a page.
class PaperArchive : public QObject {
    Q_OBJECT
public:
    // Torn-off receipts kept; older ones are forgotten.
    static constexpr int KeptReceipts = 20;

    struct Receipt {
        int id = 0;
        QDateTime torn;
        int pages = 0;
        qint64 lines = 0;
    };

    explicit PaperArchive(VirtualPrinter* printer, QObject* parent = nullptr);
    ~PaperArchive() override;

    // Makes the temporary folder; nothing is kept before.
    bool open(QString* error);
    // The roll now: its id changes when the paper is torn off.
    int rollId() const { return rollId_; }
    qint64 lines() const { return lines_; }
    // At least one: an empty roll is one empty page, as --png writes it.
    int pages() const;
    // The text of the printed lines so far, in bytes.
    qint64 textSize() const { return textSize_; }
    // The line still waiting for its line feed, as --text notes it; empty when none.
    QString unfinishedText() const;
    // Newest first.
    const QList<Receipt>& receipts() const { return receipts_; }

    // A page of the roll (id rollId()) or of a receipt kept, from 1; empty
    // when there is no such page.
    QByteArray pagePng(int id, int page) const;
    // The roll's or a receipt's text, from byte `from` of its printed lines;
    // the roll's whole text (from 0) ends with the unfinished line's note.
    // Nothing when there is no such roll or receipt.
    std::optional<QByteArray> text(int id, qint64 from = 0) const;

private:
    void append(const PaperLine& line);
    void tear();
    void startRoll();
    QString folder(int id) const;
    bool known(int id) const;

    VirtualPrinter* printer_;
    std::unique_ptr<QTemporaryDir> dir_; // made by open()
    int rollId_ = 0;
    qint64 lines_ = 0;
    qint64 textSize_ = 0;
    std::unique_ptr<PaperPages> pages_;
    QFile text_;
    QList<PaperLine> openPage_; // the lines of the page not yet written
    mutable QByteArray openPng_;
    mutable qint64 openPngLines_ = -1;
    QList<Receipt> receipts_;
};
