#pragma once

#include <QStringView>
#include <cstdint>

// How the setting dialogs turn what the operator typed into parameter bytes.
namespace Commands {

// The C library's decimal conversion: leading blanks skipped, an optional
// sign, digits up to the first non-digit; no digits give 0. A value beyond
// the range of int saturates at INT_MIN or INT_MAX instead of overflowing.
int decimalToInt(QStringView text);

// Page sizes from 1 to 39 go out as that byte; anything else as 30.
uint8_t pageSizeParameter(int value);
// Line feeds take the low 8 bits, unchecked: -1 sends 0xFF.
uint8_t lineFeedParameter(int value);

} // namespace Commands
