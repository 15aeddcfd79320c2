#pragma once

#include "bitmap/DotGrids.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>

// The two commands built from the dot grids. In a column byte bit 0 is the
// top dot and bit 7 the bottom one; columns run left to right.
namespace Bitmap {

inline constexpr int UserCharacterCount = 16;
// Where the 64 data bytes start in the bitmap print command.
inline constexpr int BitmapDataOffset = 5;

// ESC # code and the nine columns, for the character at list index 0 to 15
// (codes 0xB0 to 0xBF). Nothing for an index outside the list: no character
// is selected, and there is no code to send.
std::optional<QByteArray>
userCharacterDownloadCommand(int index, std::span<const uint8_t, UserCharColumnCount> columns);

struct BitmapPrintOptions {
    int modeIndex = 0; // "Modo": 0 "Simples", any other "Dupla"
    bool invert = false;
    bool correctDoubleColumns = false;
};

// ESC * density, the column count 64 (little-endian) and the 64 columns. The
// optional steps work on the command's copy, the inversion first, then the
// double-column correction, which keeps every other dot of each horizontal
// run; the grid itself is left as it is.
QByteArray bitmapPrintCommand(std::span<const uint8_t, BitmapColumnCount> columns,
                              const BitmapPrintOptions& options);

// The bitmap print command's data bytes as upper-case hexadecimal pairs
// joined by single blanks.
QString bitmapHexText(const QByteArray& command);

} // namespace Bitmap
