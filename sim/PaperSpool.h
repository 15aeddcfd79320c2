#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryFile>

class VirtualPrinter;
struct PaperLine;

// Every line printed since the paper was last torn off, kept in a temporary
// file rather than in memory, so that the text and the pictures of a roll of
// any length can be written whenever asked, as often as asked.
class PaperSpool : public QObject {
    Q_OBJECT
public:
    explicit PaperSpool(VirtualPrinter* printer, QObject* parent = nullptr);

    bool open(QString* error);
    qint64 lines() const { return lines_; }
    // The roll as text (PaperText.h), with a note of a line not yet ended.
    bool writeText(const QString& path, QString* error);
    // The roll as PNG pages, pixelsPerDot pixels to a dot (PaperPages.h).
    bool writePng(const QString& path, int pixelsPerDot, QString* error);

private:
    void append(const PaperLine& line);
    void tear();
    template <typename Take> bool forEachLine(Take take, QString* error);

    VirtualPrinter* printer_;
    QTemporaryFile file_;
    qint64 lines_ = 0;
    int pngPages_ = 0;
};
