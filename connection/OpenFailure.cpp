#include "connection/OpenFailure.h"

#include "link/comport/NetworkAddress.h"
#include "link/comport/PortMap.h"
#include "link/comport/TtyHolder.h"
#include "link/portio/KernelPorts.h"
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

const QString NoParallelPort = QStringLiteral("não é uma porta paralela");

QString parallelNoPermission(const struct stat& st) {
    return QStringLiteral("sem permissão: adicione o usuário ao grupo %1").arg(groupOf(st, "lp"));
}

// A parportN node that is missing while the kernel has the port: ppdev,
// which makes the node, is not loaded.
QString missingParallelCause(const QString& root, const QString& device) {
    static const QRegularExpression portName(QStringLiteral("^parport([0-9]+)$"));
    const auto m = portName.match(QFileInfo(device).fileName());
    if (m.hasMatch() &&
        QFileInfo::exists(
            sysfsPath(root, QStringLiteral("proc/sys/dev/parport/parport%1").arg(m.captured(1)))))
        return QStringLiteral("módulo ppdev não carregado: carregue-o com sudo modprobe ppdev");
    return Missing;
}

// lp's node is exclusive while open: whoever has it (CUPS printing a job)
// holds the printer.
QString lpNodeCause(const QString& node) {
    struct stat st {};
    if (::stat(QFile::encodeName(node).constData(), &st) != 0)
        return said(node, Missing);
    if (!mayReadAndWrite(QFile::encodeName(node)))
        return said(node, parallelNoPermission(st));
    return said(node, QStringLiteral("em uso por outro programa, como o CUPS imprimindo: "
                                     "aguarde o fim da impressão"));
}

// A port lp is registered on is reached through lp's node, so that node is
// what failed.
QString claimedPortCause(int port, const QString& root) {
    if (!KernelPorts::drivers(port, root).contains(QLatin1String("lp")))
        return {}; // another program holds it through ppdev
    const QString node = KernelPorts::lpNode(port, root);
    return node.isEmpty() ? QString() : lpNodeCause(node);
}

QString settingRefused(const NetworkFailure& f) {
    static const char* const parities[] = {"", "nenhuma", "ímpar", "par", "marca", "espaço"};
    const auto shown = [&f](uint32_t value) {
        switch (f.setting) {
        case NetworkFailure::Setting::Rate:
            return QStringLiteral("%1 bit/s").arg(value);
        case NetworkFailure::Setting::Parity:
            return QString::fromUtf8(value >= 1 && value <= 5 ? parities[value] : "?");
        case NetworkFailure::Setting::StopBits:
            return value == 3 ? QStringLiteral("1,5") : QString::number(value);
        case NetworkFailure::Setting::DataBits:
            break;
        }
        return QString::number(value);
    };
    static const char* const names[] = {"a velocidade", "os bits de dados", "a paridade",
                                        "os bits de parada"};
    const QString what =
        QStringLiteral("%1 %2").arg(QLatin1String(names[int(f.setting)]), shown(f.asked));
    if (!f.answered)
        return QStringLiteral("o servidor não confirmou %1").arg(what);
    return QStringLiteral("o servidor recusou %1 (respondeu %2)").arg(what, shown(*f.answered));
}

// Why a network line could not be opened, as its last attempt found.
QString networkCause(const QString& url) {
    const std::optional<NetworkAddress> address = NetworkAddress::parse(url);
    if (!address)
        return said(url, QStringLiteral("endereço inválido: escreva tcp://HOST:PORTA ou "
                                        "rfc2217://HOST:PORTA"));
    const NetworkFailure f = NetworkFailure::last(url);
    const QString where = address->hostPort();
    switch (f.kind) {
    case NetworkFailure::Kind::None:
    case NetworkFailure::Kind::Malformed:
        return {};
    case NetworkFailure::Kind::NameNotFound:
        return said(url, QStringLiteral("o nome %1 não foi encontrado").arg(address->host));
    case NetworkFailure::Kind::NameServerSilent:
        return said(url, QStringLiteral("o nome %1 não pôde ser consultado, o servidor de nomes "
                                        "não respondeu")
                             .arg(address->host));
    case NetworkFailure::Kind::Refused:
        return said(url, QStringLiteral("conexão recusada por %1").arg(where));
    case NetworkFailure::Kind::NoAnswer:
        return said(url, QStringLiteral("%1 não respondeu em 5 s").arg(where));
    case NetworkFailure::Kind::Unreachable:
        return said(url,
                    QStringLiteral("%1 inalcançável: %2").arg(where, errorText(f.errorNumber)));
    case NetworkFailure::Kind::NotRfc2217:
        return said(
            url,
            QStringLiteral("%1 não respondeu como servidor de porta serial (RFC 2217)").arg(where));
    case NetworkFailure::Kind::SettingRefused:
        return said(url, settingRefused(f));
    }
    return {};
}

} // namespace

QString serialCause(const QString& device) {
    if (device.isEmpty() || device == QLatin1String(PortMap::VirtualDevice))
        return {};
    if (NetworkAddress::isUrl(device))
        return networkCause(device);
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
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return said(device, errno == EACCES ? QStringLiteral("sem permissão")
                                            : missingParallelCause(root, device));
    if (!mayReadAndWrite(path))
        return said(device, parallelNoPermission(st));
    if (!S_ISCHR(st.st_mode))
        return said(device, NoParallelPort);
    switch (KernelPorts::kindOf(st.st_rdev, root)) {
    case KernelPorts::Kind::Ppdev:
        return claimedPortCause(int(::minor(st.st_rdev)), root);
    case KernelPorts::Kind::Lp:
        return lpNodeCause(device);
    case KernelPorts::Kind::UsbPrinter:
        return {}; // held by another program
    case KernelPorts::Kind::None:
        break;
    }
    return said(device, NoParallelPort);
}

QString withCause(const QString& text, const QString& cause) {
    return cause.isEmpty() ? text : text + QLatin1Char('\n') + cause;
}

} // namespace OpenFailure
