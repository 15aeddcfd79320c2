#pragma once

#include <QString>

// Why a port's device could not be opened, found by examining the device the
// port name is mapped to: the second line of the connection dialogs' error
// boxes. Each gives "<device>: <cause>", or an empty string when the device
// looks sound, that is, when another program that cannot be named holds it
// (what the box's first line already says) or nothing more can be learnt.
namespace OpenFailure {

// For a serial device: missing, no permission, not a serial terminal, or
// the program that holds it ("em uso por screen (pid 4242)"); for a network
// line, what its last attempt to open found: a malformed address, a name not
// found, a refused connection, no answer, a setting the server refused.
QString serialCause(const QString& device);
// For a parallel port device: ppdev not loaded, missing, no permission, not a
// parallel port, claimed by another driver. root is "/" but for tests, which
// build a sysfs and procfs of their own.
QString parallelCause(const QString& device, const QString& root = QStringLiteral("/"));

// The box's text: its own first line, then the cause on a second line when
// there is one.
QString withCause(const QString& text, const QString& cause);

} // namespace OpenFailure
