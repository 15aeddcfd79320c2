#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// tellumo-printer's standard output, written so that it never holds the
// printer up: lines wait in a bounded buffer while the reader is slow, and
// a reader that stops reading loses lines, counted and said once when it
// reads again, instead of stopping the printer. A reader that has gone away
// (a closed pipe) ends the output, never the program; the count is then
// said on standard error at the end.
class LogOutput : public QObject {
    Q_OBJECT
public:
    // Lines kept for a slow reader before new ones are dropped.
    static constexpr qsizetype MaxWaitingBytes = 256 * 1024;

    // Takes over standard output; SIGPIPE must be ignored before.
    explicit LogOutput(QObject* parent = nullptr);
    ~LogOutput() override;

    void write(const QString& line);
    qint64 lostLines() const { return lost_ + lostTotal_; }
    // At the end: whatever the reader takes within a short while.
    void finish();

private:
    void drain();
    void closed();

    int fd_ = 1;
    bool ownFd_ = false;
    bool closed_ = false;
    QByteArray waiting_;
    QSocketNotifier* notifier_ = nullptr;
    qint64 lost_ = 0;      // since the reader last kept up
    qint64 lostTotal_ = 0; // already said
};
