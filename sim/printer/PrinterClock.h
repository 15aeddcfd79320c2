#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class VirtualPrinter;

// Moves the virtual printer's clock with the wall clock: a timer while the
// event loop runs and the printer has work (an idle printer costs no
// wake-ups), and pump() from the attachments when bytes arrive while the GUI
// thread is held inside a serial Write or a parallel byte loop.
class PrinterClock : public QObject {
    Q_OBJECT
public:
    explicit PrinterClock(VirtualPrinter* printer, QObject* parent = nullptr);

    void start(int intervalMs = 10);
    void stop();
    bool ticking() const { return timer_.isActive(); }
    // Advances the printer by the wall time since the last pump.
    void pump();

private:
    void follow();

    VirtualPrinter* printer_;
    bool running_ = false;
    QTimer timer_;
    QElapsedTimer elapsed_;
    qint64 last_ = 0;
};
