#include "sim/PrinterClock.h"

#include "sim/VirtualPrinter.h"

PrinterClock::PrinterClock(VirtualPrinter* printer, QObject* parent)
    : QObject(parent), printer_(printer) {
    elapsed_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &PrinterClock::pump);
}

void PrinterClock::start(int intervalMs) {
    last_ = elapsed_.elapsed();
    timer_.start(intervalMs);
}

void PrinterClock::stop() {
    timer_.stop();
}

void PrinterClock::pump() {
    const qint64 now = elapsed_.elapsed();
    if (now > last_) {
        printer_->advance(now - last_);
        last_ = now;
    }
}
