#pragma once

#include "link/portio/ParallelPortBackend.h"

#include <QByteArray>
#include <QString>
#include <memory>

// A printer reached through a printer driver's node rather than the port's
// registers: the lp driver's /dev/lpN (what a machine with CUPS has) or the
// USB printer class's /dev/usb/lpN (a USB-to-parallel cable). The driver
// drives the strobe and the control lines itself: a byte written to the data
// register is one write() of the node, and the status register comes from
// LPGETSTATUS.
//
// The node is open non-blocking, so no write can hold the caller. A byte the
// driver does not take at once (the printer busy, off-line or out of paper)
// waits here, in order, and goes with the next write or status read; until
// the driver has taken every byte the status reads busy.
class LpParallelPort : public ParallelPortBackend {
public:
    enum class Kind { Lp, UsbPrinter };

    // Opens the node and reads its status once. On failure returns null and
    // sets *error ("open /dev/lp0: Device or resource busy").
    static std::unique_ptr<LpParallelPort> open(const QString& path, Kind kind, QString* error);

    ~LpParallelPort() override;

    uint8_t read(Register reg) override;
    void write(Register reg, uint8_t value) override;
    bool lost() const override { return lost_; }

private:
    LpParallelPort(int fd, Kind kind) : fd_(fd), kind_(kind) {}
    void flush();
    bool allTaken();
    uint8_t status();

    int fd_;
    Kind kind_;
    QByteArray waiting_;
    uint8_t data_ = 0;
    // What the parallel port's control register reads while idle; the driver
    // owns the lines, so writes are only kept for read-modify-write callers.
    uint8_t control_ = 0x0C;
    bool lost_ = false;
};
