#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>

// Who else holds a serial device: a live process named in its UUCP lock
// file, or one that simply has it open (screen, cat, a terminal program
// without locks), found through the links in /proc/<pid>/fd. Only the
// processes this user may look into are seen that second way. The process
// holding a pseudo-terminal's master (a printer emulation serving it) is the
// line's far end, not a holder, and this process is never one.
struct TtyHolder {
    pid_t pid = 0;
    QString program; // its name, as /proc/<pid>/comm gives it

    // The holder of device, if there is one.
    static std::optional<TtyHolder> find(const QString& device);
    // A process other than this one that has device open, or 0.
    static pid_t openedBy(const QString& device);
    // Whether a character device is a terminal, by the kernel's list of its
    // tty drivers (/proc/tty/drivers), without opening it. True when the
    // list cannot be read: the open's own check still refuses a non-tty.
    static bool isTerminal(dev_t node);
};
