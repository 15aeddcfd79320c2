#include "link/comport/TtyHolder.h"

#include "link/comport/TtyLock.h"

#include <QByteArray>
#include <QFile>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Pseudo-terminal slaves have majors 136 to 143; their masters all open
// /dev/ptmx (5, 2), whose fdinfo says which terminal each is.
constexpr unsigned PtySlaveMajor = 136;
constexpr unsigned PtySlaveMajors = 8;
const dev_t PtyMaster = makedev(5, 2);

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

QString programOf(pid_t pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
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

pid_t TtyHolder::openedBy(const QString& device) {
    struct stat target {};
    if (::stat(QFile::encodeName(device).constData(), &target) != 0 || !S_ISCHR(target.st_mode) ||
        !isTerminal(target.st_rdev))
        return 0;
    const unsigned major = ::major(target.st_rdev);
    const long ptyIndex = major >= PtySlaveMajor && major < PtySlaveMajor + PtySlaveMajors
                              ? long(major - PtySlaveMajor) * 256 + long(::minor(target.st_rdev))
                              : -1;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return 0;
    pid_t found = 0;
    while (const dirent* entry = ::readdir(proc)) {
        const long pid = numberOf(entry->d_name);
        if (pid <= 0 || pid == ::getpid())
            continue;
        bool open = false;
        forEachDescriptor(pid_t(pid),
                          [&](long, dev_t node) { return open = node == target.st_rdev; });
        if (open && (ptyIndex < 0 || !holdsMaster(pid_t(pid), ptyIndex))) {
            found = pid_t(pid);
            break;
        }
    }
    ::closedir(proc);
    return found;
}

std::optional<TtyHolder> TtyHolder::find(const QString& device) {
    pid_t pid = TtyLock::holder(device);
    if (pid == ::getpid())
        return std::nullopt;
    if (pid == 0)
        pid = openedBy(device);
    if (pid == 0)
        return std::nullopt;
    return TtyHolder{pid, programOf(pid)};
}
