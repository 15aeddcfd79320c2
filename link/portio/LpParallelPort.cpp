#include "link/portio/LpParallelPort.h"

#include "link/printernode/PrinterNode.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString failure(const char* step, const QString& path, int err) {
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(step), path, QString::fromLocal8Bit(std::strerror(err)));
}

// The register a parallel port would read with this printer on it: paper end
// and select as the class byte says, and the error line low for anything that
// stops printing, as a printer pulls its fault line for each of them. The
// class byte has no busy bit; the caller adds it.
uint8_t registerFromUsbClass(int status) {
    using Port = ParallelPortBackend;
    uint8_t value = Port::NotBusyLine | Port::AckLine;
    if (status & PrinterNode::Selected)
        value |= Port::SelectLine;
    if (status & PrinterNode::PaperEmpty)
        value |= Port::PaperEndLine;
    if (PrinterNode::ready(status))
        value |= Port::ErrorLine;
    return value;
}

} // namespace

std::unique_ptr<LpParallelPort> LpParallelPort::open(const QString& path, Kind kind,
                                                     QString* error) {
    const QByteArray native = path.toLocal8Bit();
    const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = failure("open", path, errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || PrinterNode::status(fd) < 0) {
        *error = QStringLiteral("status %1: not a printer device").arg(path);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<LpParallelPort>(new LpParallelPort(fd, kind));
}

LpParallelPort::~LpParallelPort() {
    ::close(fd_);
}

uint8_t LpParallelPort::read(Register reg) {
    switch (reg) {
    case Register::Data:
        return data_;
    case Register::Status:
        return status();
    case Register::Control:
        return control_;
    }
    return 0xFF;
}

void LpParallelPort::write(Register reg, uint8_t value) {
    switch (reg) {
    case Register::Data:
        data_ = value;
        waiting_.append(static_cast<char>(value));
        flush();
        break;
    case Register::Control:
        control_ = value;
        break;
    case Register::Status:
        break;
    }
}

// One write() of whatever waits: the driver takes what it can.
void LpParallelPort::flush() {
    if (waiting_.isEmpty() || lost_)
        return;
    const ssize_t n = PrinterNode::offer(fd_, waiting_.constData(), size_t(waiting_.size()));
    if (n > 0)
        waiting_.remove(0, n);
    lost_ = n < 0 && PrinterNode::gone(errno);
}

bool LpParallelPort::allTaken() {
    if (!waiting_.isEmpty())
        return false;
    const int taken = PrinterNode::waitTaken(fd_, 0);
    lost_ = lost_ || taken < 0;
    return taken > 0;
}

uint8_t LpParallelPort::status() {
    flush();
    const int raw = PrinterNode::status(fd_);
    if (raw < 0) {
        lost_ = true;
        return 0xFF;
    }
    uint8_t value = kind_ == Kind::UsbPrinter ? registerFromUsbClass(raw) : uint8_t(raw);
    if (!allTaken())
        value &= static_cast<uint8_t>(~NotBusyLine);
    return value;
}
