#include "sim/printer/PrinterClock.h"

#include "sim/printer/VirtualPrinter.h"

PrinterClock::PrinterClock(VirtualPrinter* printer, QObject* parent)
    : QObject(parent), printer_(printer) {
    elapsed_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &PrinterClock::pump);
    connect(printer_, &VirtualPrinter::stateChanged, this, &PrinterClock::follow);
}

void PrinterClock::start(int intervalMs) {
    last_ = elapsed_.elapsed();
    running_ = true;
    timer_.setInterval(intervalMs);
    follow();
}

void PrinterClock::stop() {
    running_ = false;
    timer_.stop();
}

void PrinterClock::pump() {
    const qint64 now = elapsed_.elapsed();
    if (now > last_) {
        const qint64 step = now - last_;
        last_ = now;
        printer_->advance(step);
    }
    follow();
}

void PrinterClock::follow() {
    if (running_ && printer_->hasWork()) {
        // While the timer was stopped nothing could print: that time is not
        // the printer's to catch up on.
        if (!timer_.isActive()) {
            last_ = elapsed_.elapsed();
            timer_.start();
        }
    } else {
        timer_.stop();
    }
}
