#include "link/comport/lines/tty/TtyLock.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The lock files this process has made: a lock naming this process that is
// not among them was left by an earlier run that had the same id.
std::mutex ownMutex;
QSet<QByteArray>& ownLocks() {
    static QSet<QByteArray> locks;
    return locks;
}

bool ours(const QByteArray& path) {
    std::lock_guard lock(ownMutex);
    return ownLocks().contains(path);
}

QByteArray lockPath(const QString& name) {
    QString device = name;
    if (device.startsWith(QLatin1String("/dev/")))
        device = device.mid(5);
    device.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QFile::encodeName(TtyLock::folder() + QStringLiteral("/LCK..") + device);
}

// The lock files that may guard a device: the one for its node, and the one
// a program given a link (/dev/serial/by-id/...) may have made by its name.
QList<QByteArray> lockPaths(const QString& device) {
    const QFileInfo info(device);
    const QString node = info.canonicalFilePath().isEmpty() ? device : info.canonicalFilePath();
    QList<QByteArray> paths{lockPath(node)};
    if (info.isSymLink())
        paths.append(lockPath(info.fileName()));
    return paths;
}

// The process a lock file names: ten characters, space-padded, in the usual
// form; a bare number on the first line from some programs. 0 if none.
pid_t ownerIn(int fd) {
    char text[64] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    bool ok = false;
    const long pid =
        QByteArray(text, n > 0 ? int(n) : 0).split('\n').value(0).trimmed().toLong(&ok);
    return ok && pid > 0 ? pid_t(pid) : 0;
}

pid_t lockOwner(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    const pid_t pid = ownerIn(fd);
    ::close(fd);
    return pid;
}

// A lock held by a process that still runs; this process counts only for the
// locks it made itself. Another user's process answers EPERM, and lives.
pid_t liveOwner(const QByteArray& path, pid_t pid) {
    if (pid == 0)
        return 0;
    if (pid == ::getpid())
        return ours(path) ? pid : 0;
    return ::kill(pid, 0) == 0 || errno == EPERM ? pid : 0;
}

pid_t liveOwner(const QByteArray& path) {
    return liveOwner(path, lockOwner(path));
}

// Holds flock on a stale lock file while it is checked and replaced, so that
// of two programs taking it over at once the second waits, then finds that
// the path names the first one's lock, and is refused. The wait is bounded:
// a program that keeps the flock is taken as the lock's holder.
bool flockWithin(int fd) {
    // The other program holds it for a few system calls: a millisecond's
    // pause is enough, and a hundred of them bound the wait.
    for (int tries = 0; tries < 100; ++tries) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        ::usleep(1000);
    }
    return false;
}

// Replaces the stale lock at path with candidate, written whole. True when
// done; false with holder set when a live process holds it, or with holder 0
// when the path changed meanwhile and the caller should try again.
bool replaceStale(const QByteArray& path, const QByteArray& candidate, pid_t& holder) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat held {
    }, named{};
    bool replaced = false;
    if (!flockWithin(fd))
        holder = std::max<pid_t>(ownerIn(fd), 1);
    else if (::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 &&
             held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        holder = liveOwner(path, ownerIn(fd));
        replaced = holder == 0 && ::rename(candidate.constData(), path.constData()) == 0;
    }
    ::close(fd);
    return replaced;
}

// Writes this process's lock into a file of its own, to be linked into place
// whole: no reader ever sees a lock half written.
QByteArray writeCandidate() {
    static std::atomic<int> serial{0};
    const QByteArray path = QFile::encodeName(TtyLock::folder()) + "/LTMP." +
                            QByteArray::number(::getpid()) + "." + QByteArray::number(++serial);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return {};
    const QByteArray text = QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n';
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    if (!written) {
        ::unlink(path.constData());
        return {};
    }
    return path;
}

} // namespace

QString TtyLock::folder() {
    return QStringLiteral("/run/lock");
}

pid_t TtyLock::holder(const QString& device) {
    for (const QByteArray& path : lockPaths(device))
        if (const pid_t pid = liveOwner(path))
            return pid;
    return 0;
}

bool TtyLock::take(const QString& device, pid_t& holder) {
    holder = TtyLock::holder(device);
    if (holder != 0)
        return false;
    const QByteArray path = lockPaths(device).constFirst();
    const QByteArray candidate = writeCandidate();
    if (candidate.isEmpty())
        return true;
    // A lock that appears meanwhile belongs to whoever made it; one whose
    // process is gone is replaced. A stale lock that may not be replaced
    // (another user's, in a sticky folder) leaves the device unlocked.
    bool taken = false;
    for (int attempt = 0; attempt < 3 && !taken && holder == 0; ++attempt) {
        if (::link(candidate.constData(), path.constData()) == 0)
            taken = true;
        else if (errno != EEXIST)
            break;
        else
            taken = replaceStale(path, candidate, holder);
    }
    ::unlink(candidate.constData());
    if (taken) {
        std::lock_guard lock(ownMutex);
        ownLocks().insert(path);
        path_ = path;
    }
    return holder == 0;
}

TtyLock::~TtyLock() {
    if (path_.isEmpty())
        return;
    if (lockOwner(path_) == ::getpid())
        ::unlink(path_.constData());
    std::lock_guard lock(ownMutex);
    ownLocks().remove(path_);
}
