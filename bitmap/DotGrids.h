#pragma once

#include <cstdint>

// The two dot grids as column bytes, left to right; in each byte bit 0 is the
// top dot and bit 7 the bottom one, a set bit a printed dot. Process-wide and
// zero at start.
inline constexpr int UserCharColumnCount = 9;
inline constexpr int BitmapColumnCount = 64;

extern uint8_t UserCharColumns[UserCharColumnCount];
extern uint8_t BitmapColumns[BitmapColumnCount];
