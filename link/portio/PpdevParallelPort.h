#pragma once

#include "link/portio/ParallelPortBackend.h"

#include <QString>
#include <memory>

// A parallel port reached through the Linux ppdev driver (/dev/parportN).
// The port is claimed exclusively for as long as the object lives. ppdev
// writes only control bits 0-3 and reads the control register from its own
// copy; the strobe bit is among them, which is all the link needs.
class PpdevParallelPort : public ParallelPortBackend {
public:
    // Opens and claims the device. On failure returns null and sets *error to
    // what failed and why ("open /dev/parport0: No such file or directory").
    static std::unique_ptr<PpdevParallelPort> open(const QString& path, QString* error);

    ~PpdevParallelPort() override;

    uint8_t read(Register reg) override;
    void write(Register reg, uint8_t value) override;
    // A claimed port answers every register access; one that fails has gone.
    bool lost() const override { return lost_; }

private:
    explicit PpdevParallelPort(int fd) : fd_(fd) {}
    void access(unsigned long request, unsigned char* value);

    int fd_;
    bool lost_ = false;
};
