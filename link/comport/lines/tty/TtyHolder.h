#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>

class LineOpening;

// Who else holds a serial device, as far as the kernel shows it to this
// user: a live process named in its UUCP lock file (another user's too); an
// advisory lock on the node (/proc/locks, whoever took it); a process whose
// controlling terminal it is (/proc/<pid>/stat, anyone's); a process that
// has it open (the links in /proc/<pid>/fd, this user's processes only).
// A plain open by another user's process, of a terminal that is not its
// controlling one and without exclusive mode, cannot be seen. The process
// holding a pseudo-terminal's master (a printer emulation serving it) is the
// line's far end, not a holder, and this process is never one.
//
// The walk through the processes runs on a worker thread, while the GUI
// thread's event loop runs; it is done at most once a second for a device:
// within that second its result is used again, unless the holder it named
// has ended, in which case the next walk waits for the second to pass.
struct TtyHolder {
    pid_t pid = 0;   // 0 when the kernel shows the device held but not by whom
    QString program; // its name, as /proc/<pid>/comm gives it

    // The holder of device, if there is one.
    static std::optional<TtyHolder> find(const QString& device);
    // Whether nothing but this process and the line's far end holds device.
    // False also when opening is cancelled meanwhile.
    static bool isFree(const QString& device, LineOpening* opening);
    // Whether a character device is a terminal, by the kernel's list of its
    // tty drivers (/proc/tty/drivers), without opening it. True when the
    // list cannot be read: the open's own check still refuses a non-tty.
    static bool isTerminal(dev_t node);
    // How many walks through the processes this program has made.
    static int walks();
};
