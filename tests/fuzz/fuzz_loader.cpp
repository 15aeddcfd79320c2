// The loaded file as the program keeps and shows it: any bytes, with any
// length the file system may report (shorter, as long, or far longer than
// what was read). The stored bytes are the file's, 0xFF beyond; the text
// view's lines are cut at 40 bytes at most and never show more pieces than
// there are stored bytes.
#include "app/LoadedFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    uint32_t reported = 0;
    std::memcpy(&reported, data, 4);
    FileContents contents;
    contents.head = QByteArray(reinterpret_cast<const char*>(data + 4), qsizetype(size - 4))
                        .left(FileBufferCapacity);
    contents.size = reported;

    storeLoadedFile(contents);
    const qsizetype head = contents.head.size();
    if (std::memcmp(LoadedFile.FileBuffer.data(), contents.head.constData(), size_t(head)) != 0 ||
        std::any_of(LoadedFile.FileBuffer.begin() + head, LoadedFile.FileBuffer.end(),
                    [](uint8_t b) { return b != 0xFF; }) ||
        LoadedFile.FileSize != contents.size)
        std::abort();

    const QStringList lines = displayLines(contents.head, contents.size);
    const int64_t stored = std::min<int64_t>(head, contents.size);
    if (lines.size() > stored)
        std::abort();
    // A piece is at most 40 bytes, each shown as one character or a name
    // such as "<ESC>".
    for (const QString& line : lines)
        if (line.size() > DisplayLineLimit * 5)
            std::abort();
    return 0;
}
