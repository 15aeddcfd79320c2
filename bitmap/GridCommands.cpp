#include "bitmap/GridCommands.h"

#include "protocol/CommandBytes.h"

namespace Bitmap {

std::optional<QByteArray>
userCharacterDownloadCommand(int index, std::span<const uint8_t, UserCharColumnCount> columns) {
    if (index < 0 || index >= UserCharacterCount)
        return std::nullopt;
    QByteArray command;
    command.reserve(3 + UserCharColumnCount);
    command.append(Commands::Esc)
        .append(char(Commands::Letter::UserCharacterDownload))
        .append(char(Commands::FirstUserCharacter + index));
    command.append(reinterpret_cast<const char*>(columns.data()), UserCharColumnCount);
    return command;
}

QByteArray bitmapPrintCommand(std::span<const uint8_t, BitmapColumnCount> columns,
                              const BitmapPrintOptions& options) {
    QByteArray command;
    command.reserve(BitmapDataOffset + BitmapColumnCount);
    command.append(Commands::Esc)
        .append(char(Commands::Letter::BitmapPrint))
        .append(char(Commands::BitImageDensities[options.modeIndex == 0 ? 0 : 1]));
    // The column count, low byte first.
    command.append(char(BitmapColumnCount & 0xFF)).append(char(BitmapColumnCount >> 8));
    command.append(reinterpret_cast<const char*>(columns.data()), BitmapColumnCount);

    auto* data = reinterpret_cast<uint8_t*>(command.data()) + BitmapDataOffset;
    if (options.invert)
        for (int i = 0; i < BitmapColumnCount; ++i)
            data[i] = static_cast<uint8_t>(~data[i]);
    // Each column is masked with the previous column as already corrected, so
    // within a row a run of dots keeps its 1st, 3rd, 5th ... dot.
    if (options.correctDoubleColumns)
        for (int i = 1; i < BitmapColumnCount; ++i)
            data[i] = static_cast<uint8_t>(data[i] & ~data[i - 1]);
    return command;
}

QString bitmapHexText(const QByteArray& command) {
    return QString::fromLatin1(
        command.mid(BitmapDataOffset, BitmapColumnCount).toHex(' ').toUpper());
}

} // namespace Bitmap
