#pragma once

#include <QString>

// Why a port's device could not be opened, found by examining the device the
// port name is mapped to, and the connection dialogs' error boxes built from
// it. A box tells the operator the true cause: its own classic text (another
// program is using the port) stands only where that is so or where nothing
// more can be learnt.
namespace OpenFailure {

struct Cause {
    enum class Kind {
        Unknown, // the device looks sound, or another port of this program has it
        InUse,   // another program holds the device; the text names it
        Other,   // anything else stops the open (missing, no permission, not a port ...)
    };
    Kind kind = Kind::Unknown;
    // "<device>: <what>", one sentence a line; empty when Unknown.
    QString text;

    static Cause inUse(const QString& device, const QString& what);
    static Cause other(const QString& device, const QString& what);
    bool operator==(const Cause&) const = default;
};

// For a serial device: missing, no permission, not a serial terminal, or
// the program that holds it ("em uso por screen (pid 4242)", or "em uso por
// outro programa" where the kernel shows a holder it does not name); for a network
// line, what its last attempt to open found: a malformed address, a name not
// found, a refused connection, no answer, a setting the server refused.
Cause serialCause(const QString& device);
// For a parallel port device: ppdev not loaded, missing, no permission, not a
// parallel port, claimed by another driver. root is "/" but for tests, which
// build a sysfs and procfs of their own.
Cause parallelCause(const QString& device, const QString& root = QStringLiteral("/"));

// Why a network line that was open dropped its server, when the line did
// (the server misbehaved); empty otherwise.
QString droppedServer(const QString& url);

// The text of "Configuração da Serial"'s box: "Erro ao Conectar na Serial -
// Outro aplicativo já está utilizando esta porta" for a port in use or an
// unknown cause, "Erro ao Conectar na Serial" over any other; the cause's
// lines below.
QString serialBoxText(const Cause& cause);
// The same for "Configuração Paralela", whose first line blames nobody.
QString parallelBoxText(const Cause& cause);

// What the user may do about a device only a group may open: who the user is,
// the group, the command that adds the user to it, and that it counts from
// the next login. user and inGroup are this process's but for tests.
QString noPermission(const QString& group);
QString noPermission(const QString& group, const QString& user, bool listedInGroup);

} // namespace OpenFailure
