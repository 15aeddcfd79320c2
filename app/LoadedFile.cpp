#include "app/LoadedFile.h"

#include "protocol/Windows1252.h"

#include <QFile>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TLoadedFile LoadedFile;

namespace {

constexpr char LineFeed = 0x0A;
constexpr char CarriageReturn = 0x0D;
constexpr char FormFeed = 0x0C;

bool endsPiece(char c) {
    return c == LineFeed || c == CarriageReturn || c == FormFeed;
}

// Opens path for reading only when it names a regular file. The name is
// looked at before opening, so a FIFO or a device is never opened (opening
// one may block or act), and the open file is looked at again, so a name
// swapped in between is refused too.
int openRegularFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (name.isEmpty() || ::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The names the view shows for control bytes, in angle brackets.
const char* const ControlNames[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                    "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                    "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                    "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

// How a piece reads in the view: up to its first zero byte; a line feed or
// carriage return that ends it is the line break itself, a tab is a tab, and
// every other control byte shows by name ("<ESC>", "<FF>"), so the operator
// sees the commands and form feeds that go to the printer.
QString pieceText(QByteArrayView piece) {
    const qsizetype zero = piece.indexOf('\0');
    if (zero >= 0)
        piece = piece.first(zero);
    if (!piece.isEmpty() && (piece.back() == LineFeed || piece.back() == CarriageReturn))
        piece.chop(1);
    QString text;
    for (const char c : piece) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 && c != '\t')
            text += u'<' + QLatin1String(ControlNames[byte]) + u'>';
        else if (byte == 0x7F)
            text += QLatin1String("<DEL>");
        else
            text += Windows1252::decodeByte(byte);
    }
    return text;
}

} // namespace

std::optional<FileContents> readTextFile(const QString& path) {
    const int fd = openRegularFile(path);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    FileContents contents;
    contents.size = file.size();
    const qint64 wanted = std::min<qint64>(contents.size, FileBufferCapacity);
    contents.head = file.read(wanted);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    // A file cut short while it was read is as long as what could be read.
    if (contents.head.size() < wanted)
        contents.size = contents.head.size();
    return contents;
}

void storeLoadedFile(const FileContents& contents) {
    LoadedFile.FileBuffer.fill(0xFF);
    const qsizetype stored = std::min<qsizetype>(contents.head.size(), FileBufferCapacity);
    std::copy_n(contents.head.constData(), stored, LoadedFile.FileBuffer.begin());
    LoadedFile.FileSize = contents.size;
    LoadedFile.FileLoaded = true;
}

QStringList displayLines(QByteArrayView head, int64_t fileSize) {
    const qsizetype stored =
        std::min<int64_t>({int64_t(head.size()), fileSize, FileBufferCapacity});
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype j = 0; j < stored; ++j) {
        const qsizetype length = j - start + 1;
        if (endsPiece(head[j]) || length == DisplayLineLimit || j == fileSize - 1) {
            lines << pieceText(head.sliced(start, length));
            start = j + 1;
        }
    }
    return lines;
}
