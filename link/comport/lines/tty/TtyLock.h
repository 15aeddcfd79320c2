#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// The UUCP lock file of a serial device, /run/lock/LCK..<device name>, the
// convention minicom, Qt's serial port and others share: it holds the
// locking process's id, so a program that honours it leaves the device alone
// while that process lives. The device name is the node's path below /dev
// with its links resolved ("ttyUSB0", "pts_3").
class TtyLock {
public:
    TtyLock() = default;
    // Removes the lock file if it is still this one.
    ~TtyLock();
    TtyLock(const TtyLock&) = delete;
    TtyLock& operator=(const TtyLock&) = delete;

    // Locks device. False when a live process holds its lock (its id in
    // holder); a lock whose process is gone is taken over. Where the lock
    // folder is missing or may not be written the device stays unlocked,
    // which is no refusal: the other guards of the open still hold.
    bool take(const QString& device, pid_t& holder);

    // The live process that holds device's lock, or 0. A lock this process
    // takes (another port of the program) counts too.
    static pid_t holder(const QString& device);

    // Where the lock files live.
    static QString folder();

private:
    QByteArray path_;
};
