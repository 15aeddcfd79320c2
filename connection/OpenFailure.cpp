#include "connection/OpenFailure.h"

#include "link/comport/PortMap.h"
#include "link/comport/lines/network/NetworkAddress.h"
#include "link/comport/lines/tty/TtyHolder.h"
#include "link/comport/lines/tty/TtyLock.h"
#include "link/portio/KernelPorts.h"
#include "link/portio/LptMap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace OpenFailure {

namespace {

const QString Missing = QStringLiteral("dispositivo não encontrado");

// The group that may open the device, for the remedy; the usual one when the
// device belongs to root's group, which no one should be added to.
QString groupOf(const struct stat& st, const char* usual) {
    if (st.st_gid != 0) {
        if (const group* g = ::getgrgid(st.st_gid))
            return QString::fromLocal8Bit(g->gr_name);
    }
    return QString::fromLatin1(usual);
}

// Whether /etc/group lists the user in the group, which this process may not
// have yet: a membership counts from the login after it was given.
bool listedIn(const QString& groupName, const passwd* user) {
    const group* g = ::getgrnam(groupName.toLocal8Bit().constData());
    if (!g || !user)
        return false;
    if (user->pw_gid == g->gr_gid)
        return true;
    for (char** member = g->gr_mem; *member; ++member)
        if (std::strcmp(*member, user->pw_name) == 0)
            return true;
    return false;
}

// Whether this process has the group already, so that the group is not
// what it lacks.
bool sessionHas(const QString& groupName) {
    const group* g = ::getgrnam(groupName.toLocal8Bit().constData());
    if (!g)
        return false;
    if (::getegid() == g->gr_gid)
        return true;
    std::vector<gid_t> groups(size_t(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(size_t(std::max(::getgroups(int(groups.size()), groups.data()), 0)));
    return std::find(groups.begin(), groups.end(), g->gr_gid) != groups.end();
}

bool mayReadAndWrite(const QByteArray& path) {
    return ::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) == 0;
}

QString errorText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

const QString InUseByAnother = QStringLiteral("em uso por outro programa");

// Opens the terminal the way the serial port does, and tells what stops it.
// Exclusive mode set by a program that could not be named (another user's)
// makes the open fail, or, for root, shows once it is open; set by another
// port of this program, it names nobody.
Cause terminalCause(const QString& device, const QString& noPermissionText) {
    const bool ours = TtyLock::holder(device) == ::getpid();
    const int fd =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case EBUSY:
            return ours ? Cause() : Cause::inUse(device, InUseByAnother);
        case EACCES:
        case EPERM:
            return Cause::other(device, noPermissionText);
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO: // a serial device with no UART behind it
            return Cause::other(device, Missing);
        default:
            return Cause::other(device, errorText(errno));
        }
    }
    Cause cause;
    int exclusive = 0;
    if (!::isatty(fd))
        cause = Cause::other(device, QStringLiteral("não é um terminal serial"));
    else if (!ours && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        cause = Cause::inUse(device, InUseByAnother);
    ::close(fd);
    return cause;
}

QString sysfsPath(const QString& root, const QString& path) {
    return QDir::cleanPath(root + QLatin1Char('/') + path);
}

const QString NoParallelPort = QStringLiteral("não é uma porta paralela");

QString parallelNoPermission(const struct stat& st) {
    return noPermission(groupOf(st, "lp"));
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
Cause lpNodeCause(const QString& node) {
    struct stat st {};
    if (::stat(QFile::encodeName(node).constData(), &st) != 0)
        return Cause::other(node, Missing);
    if (!mayReadAndWrite(QFile::encodeName(node)))
        return Cause::other(node, parallelNoPermission(st));
    return Cause::inUse(node, QStringLiteral("em uso por outro programa, como o CUPS imprimindo: "
                                             "aguarde o fim da impressão"));
}

// A port lp is registered on is reached through lp's node, so that node is
// what failed.
Cause claimedPortCause(int port, const QString& root) {
    if (!KernelPorts::drivers(port, root).contains(QLatin1String("lp")))
        return {}; // another program holds it through ppdev
    const QString node = KernelPorts::lpNode(port, root);
    return node.isEmpty() ? Cause() : lpNodeCause(node);
}

QString boxText(const QString& firstLine, const Cause& cause) {
    return cause.text.isEmpty() ? firstLine : firstLine + QLatin1Char('\n') + cause.text;
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

QString misbehaved(const QString& where) {
    return QStringLiteral("o servidor %1 foi desconectado: ele enviava pedidos sem ler as "
                          "respostas")
        .arg(where);
}

// Why a network line could not be opened, as its last attempt found.
Cause networkCause(const QString& url) {
    const std::optional<NetworkAddress> address = NetworkAddress::parse(url);
    if (!address)
        return Cause::other(url, QStringLiteral("endereço inválido: escreva tcp://HOST:PORTA ou "
                                                "rfc2217://HOST:PORTA"));
    const NetworkFailure f = NetworkFailure::last(url);
    const QString where = address->hostPort();
    switch (f.kind) {
    case NetworkFailure::Kind::None:
    case NetworkFailure::Kind::Malformed:
        return {};
    case NetworkFailure::Kind::NameNotFound:
        return Cause::other(url, QStringLiteral("o nome %1 não foi encontrado").arg(address->host));
    case NetworkFailure::Kind::NameServerSilent:
        return Cause::other(url,
                            QStringLiteral("o nome %1 não pôde ser consultado, o servidor de nomes "
                                           "não respondeu")
                                .arg(address->host));
    case NetworkFailure::Kind::Refused:
        return Cause::other(url, QStringLiteral("conexão recusada por %1").arg(where));
    case NetworkFailure::Kind::NoAnswer:
        return Cause::other(url, QStringLiteral("%1 não respondeu em 5 s").arg(where));
    case NetworkFailure::Kind::Unreachable:
        return Cause::other(
            url, QStringLiteral("%1 inalcançável: %2").arg(where, errorText(f.errorNumber)));
    case NetworkFailure::Kind::NotRfc2217:
        return Cause::other(
            url,
            QStringLiteral("%1 não respondeu como servidor de porta serial (RFC 2217)").arg(where));
    case NetworkFailure::Kind::SettingRefused:
        return Cause::other(url, settingRefused(f));
    case NetworkFailure::Kind::ZoneNeeded:
        return Cause::other(url, QStringLiteral("%1 é um endereço local de enlace: indique a "
                                                "interface de rede, como [%1%eth0]")
                                     .arg(address->host));
    case NetworkFailure::Kind::ServerRefused:
        return Cause::other(
            url,
            QStringLiteral("o servidor %1 não conseguiu abrir a sua porta serial e disse: \"%2\"")
                .arg(where, f.said));
    case NetworkFailure::Kind::Misbehaved:
        return Cause::other(url, misbehaved(where));
    }
    return {};
}

} // namespace

Cause Cause::inUse(const QString& device, const QString& what) {
    return {Kind::InUse, QStringLiteral("%1: %2").arg(device, what)};
}

Cause Cause::other(const QString& device, const QString& what) {
    return {Kind::Other, QStringLiteral("%1: %2").arg(device, what)};
}

QString noPermission(const QString& group) {
    const passwd* user = ::getpwuid(::geteuid());
    const QString name =
        user ? QString::fromLocal8Bit(user->pw_name) : qEnvironmentVariable("USER");
    if (sessionHas(group)) // the device's own mode shuts the group out
        return QStringLiteral("sem permissão para o usuário %1.").arg(name);
    return noPermission(group, name, listedIn(group, user));
}

QString noPermission(const QString& group, const QString& user, bool listedInGroup) {
    if (listedInGroup)
        return QStringLiteral("sem permissão para o usuário %1.\n"
                              "O usuário já está no grupo %2, mas a sessão começou antes: "
                              "saia e entre de novo.")
            .arg(user, group);
    return QStringLiteral("sem permissão para o usuário %1.\n"
                          "Adicione-o ao grupo %2 com o comando: sudo adduser %1 %2\n"
                          "A entrada no grupo só vale depois de sair e entrar de novo na sessão.")
        .arg(user, group);
}

Cause serialCause(const QString& device) {
    if (device.isEmpty() || device == QLatin1String(PortMap::VirtualDevice))
        return {};
    if (NetworkAddress::isUrl(device))
        return networkCause(device);
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return Cause::other(device, errno == EACCES ? QStringLiteral("sem permissão") : Missing);
    const QString noPermissionText = noPermission(groupOf(st, "dialout"));
    if (!mayReadAndWrite(path))
        return Cause::other(device, noPermissionText);
    if (!S_ISCHR(st.st_mode))
        return Cause::other(device, QStringLiteral("não é um terminal serial"));
    // Asked before the device is opened to look at it, which would raise
    // DTR and RTS under the holder.
    if (const std::optional<TtyHolder> holder =
            TtyHolder::isTerminal(st.st_rdev) ? TtyHolder::find(device) : std::nullopt)
        return Cause::inUse(
            device,
            holder->pid == 0
                ? InUseByAnother
                : QStringLiteral("em uso por %1 (pid %2)").arg(holder->program).arg(holder->pid));
    return terminalCause(device, noPermissionText);
}

Cause parallelCause(const QString& device, const QString& root) {
    if (device.isEmpty() || device == QLatin1String(LptMap::VirtualDevice))
        return {};
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return Cause::other(device, errno == EACCES ? QStringLiteral("sem permissão")
                                                    : missingParallelCause(root, device));
    if (!mayReadAndWrite(path))
        return Cause::other(device, parallelNoPermission(st));
    if (!S_ISCHR(st.st_mode))
        return Cause::other(device, NoParallelPort);
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
    return Cause::other(device, NoParallelPort);
}

QString droppedServer(const QString& url) {
    const std::optional<NetworkAddress> address = NetworkAddress::parse(url);
    if (!address || NetworkFailure::last(url).kind != NetworkFailure::Kind::Misbehaved)
        return {};
    return misbehaved(address->hostPort());
}

QString serialBoxText(const Cause& cause) {
    if (cause.kind == Cause::Kind::Other)
        return boxText(QStringLiteral("Erro ao Conectar na Serial"), cause);
    return boxText(
        QStringLiteral(
            "Erro ao Conectar na Serial - Outro aplicativo já está utilizando esta porta"),
        cause);
}

QString parallelBoxText(const Cause& cause) {
    return boxText(QStringLiteral("Não foi possível abrir o driver da porta paralela"), cause);
}

} // namespace OpenFailure
