#pragma once

#include "sim/paper/PaperModel.h"
#include "sim/printer/PrintQueue.h"
#include "sim/printer/PrinterLog.h"

#include <QObject>

// The end of the printer's bytes: the jobs the print queue lets through are
// put on the paper roll here, and the drawer opens and closes. It knows
// nothing of the commands that made the jobs: a job carries all it needs.
// With the paper out and the sensor off nothing stops the head (the queue is
// paused only when the sensor sees it): what it prints is lost, and the log
// says so once until paper is back or the sensor is set again.
class PrintHead : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 DrawerOpenMs = 3000;

    explicit PrintHead(QObject* parent = nullptr) : QObject(parent) {}

    // One line of the job, or for a Feed one blank line, at printer time now.
    void print(const PrintQueue::Job& job, qint64 now);
    // Closes the drawer once it has been open long enough.
    void follow(qint64 now);

    void setPaperOut(bool out);
    bool paperOut() const { return paperOut_; }
    // A loss is warned about again (the paper sensor was set).
    void rearmLossWarning() { lossWarned_ = false; }
    bool drawerOpen() const { return drawerOpen_; }
    int drawerOpenings() const { return drawerOpenings_; }
    const PaperRoll& paper() const { return paper_; }
    void clearPaper() { paper_.clear(); }

signals:
    void printed(const PaperLine& line);
    void logged(const PrinterLogEntry& entry); // the printer stamps the time

private:
    void putOnPaper(PaperLine line);
    void note(PrinterLogEntry::Kind kind, const QString& text, const QString& name);

    PaperRoll paper_;
    bool paperOut_ = false;
    bool lossWarned_ = false;
    bool drawerOpen_ = false;
    qint64 drawerClosesAt_ = 0;
    int drawerOpenings_ = 0;
};
