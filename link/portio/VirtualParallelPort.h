#pragma once

#include "link/portio/ParallelPortBackend.h"

#include <QList>
#include <functional>
#include <mutex>

// An in-process parallel port for the tests and the virtual printer. It keeps
// the three registers, records every register access in order, and reports
// each byte strobed out of the data register.
//
// Threads: register accesses (read/write) come from the thread that drives
// the port through TPortIO, the GUI thread. The status lines (setStatus,
// setBusy, setFault, setLost) and the access log may be used from any thread. The
// strobe handler runs synchronously on the thread that asserted the strobe,
// before that write returns, with no lock held: it may set the status lines.
class VirtualParallelPort : public ParallelPortBackend {
public:
    struct Access {
        Register reg;
        bool write;
        uint8_t value; // the value written, or the value the read returned
        bool operator==(const Access&) const = default;
    };
    using StrobeHandler = std::function<void(uint8_t byte)>;

    // An idle, ready printer: not busy, no error, selected, acknowledge high.
    static constexpr uint8_t ReadyStatus = 0xDF;

    uint8_t read(Register reg) override;
    void write(Register reg, uint8_t value) override;

    // The raw status register, as the port would read it.
    void setStatus(uint8_t status);
    uint8_t status() const;
    void setBusy(bool busy);
    // A fault pulls the error line low (no paper, off-line).
    void setFault(bool fault);
    // A port that has gone, as a USB cable pulled out: TPortIO stops using it.
    void setLost(bool lost);
    bool lost() const override;

    // Called once per byte, when the strobe is asserted (control bit 0 going
    // from 0 to 1), with the data register's value at that moment.
    void setStrobeHandler(StrobeHandler handler);

    QList<Access> accesses() const;
    void clearAccesses();
    // Recording is on at start; the virtual printer turns it off so a long
    // session does not keep every access.
    void setRecording(bool on);

private:
    mutable std::mutex mutex_;
    uint8_t data_ = 0;
    uint8_t status_ = ReadyStatus;
    uint8_t control_ = 0;
    bool recording_ = true;
    bool lost_ = false;
    QList<Access> accesses_;
    StrobeHandler strobeHandler_;
};
