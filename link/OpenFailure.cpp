#include "link/OpenFailure.h"

#include "link/comport/PortMap.h"
#include "link/comport/TtyHolder.h"
#include "link/portio/LptMap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace OpenFailure {

namespace {

constexpr unsigned PpdevMajor = 99;

const QString Missing = QStringLiteral("dispositivo não encontrado");

QString said(const QString& device, const QString& cause) {
    return cause.isEmpty() ? QString() : QStringLiteral("%1: %2").arg(device, cause);
}

// The group that may open the device, for the remedy; the usual one when the
// device belongs to root's group, which no one should be added to.
QString groupOf(const struct stat& st, const char* usual) {
    if (st.st_gid != 0) {
        if (const group* g = ::getgrgid(st.st_gid))
            return QString::fromLocal8Bit(g->gr_name);
    }
    return QString::fromLatin1(usual);
}

bool mayReadAndWrite(const QByteArray& path) {
    return ::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) == 0;
}

QString errorText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Opens the terminal the way the serial port does, and tells what stops it.
QString terminalCause(const QByteArray& path, const QString& noPermission) {
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case EBUSY:
            return {}; // held exclusively by another program
        case EACCES:
        case EPERM:
            return noPermission;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO: // a serial device with no UART behind it
            return Missing;
        default:
            return errorText(errno);
        }
    }
    QString cause;
    if (!::isatty(fd))
        cause = QStringLiteral("não é um terminal serial");
    ::close(fd);
    return cause;
}

QString sysfsPath(const QString& root, const QString& path) {
    return QDir::cleanPath(root + QLatin1Char('/') + path);
}

// The driver that holds the port, from the parallel port layer's own account.
QString activeDriver(const QString& root, const QString& port) {
    if (port.isEmpty())
        return {};
    QFile active(
        sysfsPath(root, QStringLiteral("proc/sys/dev/parport/%1/devices/active").arg(port)));
    if (!active.open(QIODevice::ReadOnly))
        return {};
    const QString name = QString::fromLocal8Bit(active.readAll()).trimmed();
    return name == QLatin1String("none") ? QString() : name;
}

QString missingParallelCause(const QString& root, const QString& port) {
    if (port.isEmpty())
        return Missing;
    for (const QString& known :
         {QStringLiteral("sys/bus/parport/devices/%1"), QStringLiteral("proc/sys/dev/parport/%1")})
        if (QFileInfo::exists(sysfsPath(root, known.arg(port))))
            return QStringLiteral("módulo ppdev não carregado");
    return Missing;
}

} // namespace

QString serialCause(const QString& device) {
    if (device.isEmpty() || device == QLatin1String(PortMap::VirtualDevice))
        return {};
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return said(device, errno == EACCES ? QStringLiteral("sem permissão") : Missing);
    const QString noPermission =
        QStringLiteral("sem permissão: adicione o usuário ao grupo %1").arg(groupOf(st, "dialout"));
    if (!mayReadAndWrite(path))
        return said(device, noPermission);
    if (!S_ISCHR(st.st_mode))
        return said(device, QStringLiteral("não é um terminal serial"));
    // Asked before the device is opened to look at it, which would raise
    // DTR and RTS under the holder.
    if (const std::optional<TtyHolder> holder =
            TtyHolder::isTerminal(st.st_rdev) ? TtyHolder::find(device) : std::nullopt)
        return said(device,
                    QStringLiteral("em uso por %1 (pid %2)").arg(holder->program).arg(holder->pid));
    if (const QString cause = terminalCause(path, noPermission); !cause.isEmpty())
        return said(device, cause);
    return {};
}

QString parallelCause(const QString& device, const QString& root) {
    if (device.isEmpty() || device == QLatin1String(LptMap::VirtualDevice))
        return {};
    static const QRegularExpression portName(QStringLiteral("^parport[0-9]+$"));
    const QString name = QFileInfo(device).fileName();
    const QString port = portName.match(name).hasMatch() ? name : QString();
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return said(device, errno == EACCES ? QStringLiteral("sem permissão")
                                            : missingParallelCause(root, port));
    if (!mayReadAndWrite(path))
        return said(device, QStringLiteral("sem permissão: grupo %1").arg(groupOf(st, "lp")));
    // Claimed by another program through ppdev, it is just held.
    if (const QString driver = activeDriver(root, port);
        !driver.isEmpty() && !driver.startsWith(QLatin1String("ppdev")))
        return said(device, QStringLiteral("porta ocupada por outro driver (%1)").arg(driver));
    if (!S_ISCHR(st.st_mode) || ::major(st.st_rdev) != PpdevMajor)
        return said(device, QStringLiteral("não é uma porta paralela"));
    return {};
}

QString withCause(const QString& text, const QString& cause) {
    return cause.isEmpty() ? text : text + QLatin1Char('\n') + cause;
}

} // namespace OpenFailure
