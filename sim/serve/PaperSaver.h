#pragma once

#include "sim/serve/PaperSpool.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <thread>

// Writes tellumo-printer's paper files (--text, --png) on a thread of its
// own, from a snapshot of the roll: a long roll drawn four pixels a dot takes
// half a minute, which the thread that serves the ports cannot give. The
// answer comes back on the caller's thread once the files are written; asks
// made while a save runs are answered by the next one, made from the roll as
// it is when the running one ends.
class PaperSaver : public QObject {
    Q_OBJECT
public:
    struct Files {
        QString text;
        QString png;
        int pngScale = 1;
    };
    // An empty string, or what failed.
    using Done = std::function<void(const QString& error)>;

    PaperSaver(PaperSpool* spool, Files files, QObject* parent = nullptr);
    ~PaperSaver() override;

    void save(Done done);
    // At the end: waits for a running save, then writes the roll as it is
    // now on this thread; what failed, if anything.
    QString saveNow();

private:
    void start();
    void finished();
    QString write(const PaperSpool::Snapshot& roll);

    PaperSpool* spool_;
    Files files_;
    int pngPages_ = 0; // written by the worker only while it runs
    std::thread worker_;
    QString result_; // the worker's, read once it is joined
    QList<Done> running_;
    QList<Done> waiting_;
};
