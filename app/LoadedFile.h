#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

// The text file the operator loaded: the bytes the file send takes, exactly
// as they are in the file, and the file's full length.
inline constexpr int FileBufferCapacity = 30000;
// The longest piece of the file the text view shows as one line.
inline constexpr int DisplayLineLimit = 40;

struct TLoadedFile {
    // The file's first bytes from index 0; 0xFF beyond them.
    std::array<uint8_t, FileBufferCapacity> FileBuffer{};
    // The file's length, which may be more than FileBuffer holds; 64-bit, so
    // a file of 2 GiB or more keeps its true length.
    int64_t FileSize = 0;
    // A file has been loaded since start-up; never cleared.
    bool FileLoaded = false;
};

extern TLoadedFile LoadedFile;

// A file as it was read: its first bytes (at most FileBufferCapacity) and
// its full length.
struct FileContents {
    QByteArray head;
    int64_t size = 0;
};

// Reads the first FileBufferCapacity bytes of the regular file at path.
// Anything that is not a regular file (missing, unreadable, a directory, a
// FIFO, a device, a dangling link) gives nothing, without waiting on it.
std::optional<FileContents> readTextFile(const QString& path);

// Replaces LoadedFile with contents; what the last file left beyond the new
// one reads 0xFF.
void storeLoadedFile(const FileContents& contents);

// The text view's lines for a file: its stored bytes cut into pieces that
// end at a line feed, carriage return or form feed, at DisplayLineLimit
// bytes, or at the file's last byte; a piece still open where the stored
// bytes end is not shown. Each piece is shown up to its first zero byte,
// decoded as Windows-1252, with its control bytes named ("<ESC>").
QStringList displayLines(QByteArrayView head, int64_t fileSize);
