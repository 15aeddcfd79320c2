#include "link/comport/lines/tty/TtyHolder.h"

#include "link/comport/EventLoopWait.h"
#include "link/comport/lines/tty/TtyLock.h"

#include <QByteArray>
#include <QFile>
#include <QHash>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto WalkEvery = std::chrono::seconds(1);
// A walk that has not ended by then is taken as a refusal.
constexpr auto WalkLimit = std::chrono::seconds(10);

// Pseudo-terminal slaves have majors 136 to 143; their masters all open
// /dev/ptmx (5, 2), whose fdinfo says which terminal each is.
constexpr unsigned PtySlaveMajor = 136;
constexpr unsigned PtySlaveMajors = 8;
const dev_t PtyMaster = makedev(5, 2);

std::atomic<int> walkCount{0};

long numberOf(const char* name) {
    char* end = nullptr;
    const long n = std::strtol(name, &end, 10);
    return end != name && *end == '\0' ? n : -1;
}

// Calls visit(fd number, the node it is open on) for each descriptor of pid;
// visit returns true to stop. False if pid cannot be looked into.
template <typename Visit> bool forEachDescriptor(pid_t pid, Visit visit) {
    const QByteArray folder = "/proc/" + QByteArray::number(pid) + "/fd";
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        const long fd = numberOf(entry->d_name);
        struct stat st {};
        if (fd < 0 || ::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode))
            continue;
        if (visit(fd, st.st_rdev))
            break;
    }
    ::closedir(dir);
    return true;
}

// Whether pid holds the master of the pseudo-terminal with that index.
bool holdsMaster(pid_t pid, long index) {
    bool found = false;
    forEachDescriptor(pid, [&](long fd, dev_t node) {
        if (node != PtyMaster)
            return false;
        QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd));
        if (!info.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : info.readAll().split('\n'))
            if (line.startsWith("tty-index:") && line.mid(10).trimmed().toLong() == index)
                found = true;
        return found;
    });
    return found;
}

// Whether node is pid's controlling terminal: the seventh field of
// /proc/<pid>/stat, which any user may read, after the name in parentheses.
bool controlledBy(pid_t pid, dev_t node) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[512] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    const char* afterName = n > 0 ? std::strrchr(text, ')') : nullptr;
    unsigned tty = 0;
    if (!afterName || std::sscanf(afterName + 1, " %*c %*d %*d %*d %u", &tty) != 1 || tty == 0)
        return false;
    // The kernel's encoding of a device number: minor bits 0-7 and 20-31.
    return ::major(node) == ((tty >> 8) & 0xfff) &&
           ::minor(node) == ((tty & 0xff) | ((tty >> 12) & 0xfff00));
}

// The process, other than this one and the far end, that has node as its
// controlling terminal or open; 0 if none is seen.
pid_t walk(dev_t node) {
    ++walkCount;
    const unsigned major = ::major(node);
    const long ptyIndex = major >= PtySlaveMajor && major < PtySlaveMajor + PtySlaveMajors
                              ? long(major - PtySlaveMajor) * 256 + long(::minor(node))
                              : -1;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return 0;
    pid_t found = 0;
    while (const dirent* entry = ::readdir(proc)) {
        const long pid = numberOf(entry->d_name);
        if (pid <= 0 || pid == ::getpid())
            continue;
        bool holds = controlledBy(pid_t(pid), node);
        if (!holds)
            forEachDescriptor(pid_t(pid), [&](long, dev_t open) { return holds = open == node; });
        if (holds && (ptyIndex < 0 || !holdsMaster(pid_t(pid), ptyIndex))) {
            found = pid_t(pid);
            break;
        }
    }
    ::closedir(proc);
    return found;
}

// An advisory lock (flock, fcntl) on the node, as /proc/locks lists it for
// every user: "1: FLOCK  ADVISORY  WRITE 4409 00:1b:3 0 EOF". Its process,
// -1 when the kernel does not say (a lock on an open file description), 0
// when there is none but this process's.
pid_t lockedBy(const struct stat& node) {
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray where = QByteArray::number(::major(node.st_dev), 16).rightJustified(2, '0') +
                             ':' +
                             QByteArray::number(::minor(node.st_dev), 16).rightJustified(2, '0') +
                             ':' + QByteArray::number(quint64(node.st_ino));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] == "->" || fields[5] != where)
            continue;
        const pid_t pid = pid_t(fields[4].toInt());
        if (pid != ::getpid())
            return pid > 0 ? pid : -1;
    }
    return 0;
}

QString programOf(pid_t pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

bool alive(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// A node is the same while its path leads to the same inode, unchanged: a
// device plugged in again, or a new pseudo-terminal of the same number, is
// another.
struct Node {
    dev_t device = 0;
    ino_t inode = 0;
    timespec changed{};
    bool operator==(const Node& o) const {
        return device == o.device && inode == o.inode && changed.tv_sec == o.changed.tv_sec &&
               changed.tv_nsec == o.changed.tv_nsec;
    }
};

// The last walk for each device.
struct Walked {
    Node node;
    Clock::time_point at;
    pid_t holder = 0;
};
std::mutex walkedMutex;
QHash<QString, Walked>& lastWalks() {
    static QHash<QString, Walked> walks;
    return walks;
}

// Walks on a worker thread, from start on, and waits for its result; the
// GUI thread's event loop runs meanwhile. Nothing when the wait is
// cancelled or fails.
std::optional<pid_t> walkAside(dev_t rdev, Clock::time_point start, LineOpening* opening) {
    const auto holder = std::make_shared<std::atomic<pid_t>>(0);
    const auto work = [holder, rdev, start] {
        std::this_thread::sleep_until(start);
        holder->store(walk(rdev));
    };
    if (EventLoopWait::aside(work, start + WalkLimit, opening) != EventLoopWait::End::Done)
        return std::nullopt;
    return holder->load();
}

// The holder the walk finds, or 0; nothing when the wait was cancelled or
// failed. A walk of the last second is used again.
std::optional<pid_t> walked(const QString& device, const struct stat& st, LineOpening* opening) {
    const Node node{st.st_dev, st.st_ino, st.st_ctim};
    Clock::time_point start = Clock::now();
    {
        std::lock_guard lock(walkedMutex);
        const auto last = lastWalks().constFind(device);
        if (last != lastWalks().cend() && last->node == node) {
            if (start - last->at < WalkEvery && (last->holder == 0 || alive(last->holder)))
                return last->holder;
            start = std::max(start, last->at + WalkEvery);
        }
    }
    const std::optional<pid_t> holder = walkAside(st.st_rdev, start, opening);
    if (holder) {
        std::lock_guard lock(walkedMutex);
        lastWalks().insert(device, {node, Clock::now(), *holder});
    }
    return holder;
}

} // namespace

bool TtyHolder::isTerminal(dev_t node) {
    QFile drivers(QStringLiteral("/proc/tty/drivers"));
    if (!drivers.open(QIODevice::ReadOnly))
        return true;
    // "usbserial  /dev/ttyUSB  188 0-511 serial": name, node, major, minors.
    for (const QByteArray& line : drivers.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4 || fields[2].toUInt() != ::major(node))
            continue;
        const QList<QByteArray> minors = fields[3].split('-');
        const unsigned first = minors[0].toUInt();
        const unsigned last = minors.size() > 1 ? minors[1].toUInt() : first;
        if (::minor(node) >= first && ::minor(node) <= last)
            return true;
    }
    return false;
}

int TtyHolder::walks() {
    return walkCount;
}

bool TtyHolder::isFree(const QString& device, LineOpening* opening) {
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return true;
    if (lockedBy(st) != 0)
        return false;
    const std::optional<pid_t> holder = walked(device, st, opening);
    return holder && *holder == 0;
}

std::optional<TtyHolder> TtyHolder::find(const QString& device) {
    pid_t pid = TtyLock::holder(device);
    if (pid == ::getpid())
        return std::nullopt;
    struct stat st {};
    const bool node =
        ::stat(QFile::encodeName(device).constData(), &st) == 0 && S_ISCHR(st.st_mode);
    if (pid == 0 && node)
        pid = lockedBy(st);
    if (pid == 0 && node)
        pid = walked(device, st, nullptr).value_or(0);
    if (pid == 0)
        return std::nullopt;
    if (pid < 0)
        return TtyHolder{};
    return TtyHolder{pid, programOf(pid)};
}
