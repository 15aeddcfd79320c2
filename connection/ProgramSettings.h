#pragma once

#include <QString>

// The program's settings file, ~/.config/Tellumo/tellumo.conf: whatever
// remembers a choice between runs opens it by these two names.
namespace ProgramSettings {
inline const QString Organisation = QStringLiteral("Tellumo");
inline const QString Application = QStringLiteral("tellumo");
} // namespace ProgramSettings
