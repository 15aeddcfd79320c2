#pragma once

#include <QString>

// Words the printer's log and its window's panel both use, so that they read
// the same in both.
inline QString onOff(bool on) {
    return on ? QStringLiteral("ligado") : QStringLiteral("desligado");
}

inline QString lineCount(int lines) {
    return lines == 1 ? QStringLiteral("1 linha") : QStringLiteral("%1 linhas").arg(lines);
}
