#include "link/portio/PortIO.h"

#include "link/portio/KernelPorts.h"
#include "link/portio/LpParallelPort.h"
#include "link/portio/LptMap.h"
#include "link/portio/PpdevParallelPort.h"
#include "link/portio/VirtualParallelPort.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using Kind = KernelPorts::Kind;

QString notAParallelPort(const QString& path) {
    return QStringLiteral("open %1: not a parallel port device").arg(path);
}

// A ppdev node's port, driven through lp's node while lp is registered on
// it: lp keeps ppdev's exclusive claim out, and a claim without it would
// fight lp for the lines.
std::unique_ptr<ParallelPortBackend> openParport(const QString& path, int port, QString* error) {
    if (!KernelPorts::drivers(port).contains(QLatin1String("lp")))
        return PpdevParallelPort::open(path, error);
    const QString lp = KernelPorts::lpNode(port);
    if (lp.isEmpty()) {
        *error = QStringLiteral("claim %1: the lp driver holds the port and has no node").arg(path);
        return nullptr;
    }
    return LpParallelPort::open(lp, LpParallelPort::Kind::Lp, error);
}

// The device at path, by what its node is. Only a device node is opened: the
// path may be mistyped for a serial port, a file or a FIFO.
std::unique_ptr<ParallelPortBackend> openDevice(const QString& path, QString* error) {
    struct stat node {};
    if (::stat(QFile::encodeName(path).constData(), &node) != 0) {
        *error =
            QStringLiteral("open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    if (!S_ISCHR(node.st_mode)) {
        *error = notAParallelPort(path);
        return nullptr;
    }
    switch (KernelPorts::kindOf(node.st_rdev)) {
    case Kind::Ppdev:
        return openParport(path, int(::minor(node.st_rdev)), error);
    case Kind::Lp:
        return LpParallelPort::open(path, LpParallelPort::Kind::Lp, error);
    case Kind::UsbPrinter:
        return LpParallelPort::open(path, LpParallelPort::Kind::UsbPrinter, error);
    case Kind::None:
        break;
    }
    *error = notAParallelPort(path);
    return nullptr;
}

std::shared_ptr<ParallelPortBackend> openLpt(const QString& name, QString* error) {
    const QString device = LptMap::device(name);
    if (device == QLatin1String(LptMap::VirtualDevice)) {
        auto port = LptMap::virtualPort(name);
        if (!port)
            *error = QStringLiteral("%1: the virtual printer is not running").arg(name);
        return port;
    }
    if (device.isEmpty()) {
        *error = QStringLiteral("%1: no device is assigned").arg(name);
        return nullptr;
    }
    return openDevice(device, error);
}

} // namespace

TPortIO::TPortIO(QObject* parent) : QObject(parent) {}

TPortIO::~TPortIO() {
    CloseDriver();
}

void TPortIO::OpenDriver() {
    if (port_)
        return;
    const uint16_t base = BasePort == Lpt2Base ? Lpt2Base : Lpt1Base;
    QString error;
    port_ = openLpt(QLatin1String(base == Lpt1Base ? "LPT1" : "LPT2"), &error);
    openBase_ = base;
    lost_ = false;
    if (!port_)
        lastError_ = error;
}

bool TPortIO::CloseDriver() {
    if (!port_)
        return false;
    port_.reset();
    lost_ = false;
    return true;
}

ParallelPortBackend* TPortIO::portFor(uint16_t address, uint16_t* offset) const {
    if (!port_ || address < openBase_ || address > openBase_ + 2)
        return nullptr;
    *offset = address - openBase_;
    return port_.get();
}

void TPortIO::noteLoss() {
    if (lost_ || !port_->lost())
        return;
    lost_ = true;
    emit deviceLost();
}

uint8_t TPortIO::GetPortByte(uint16_t address) {
    uint16_t offset = 0;
    ParallelPortBackend* port = portFor(address, &offset);
    if (!port)
        return 0xFF;
    if (lost_)
        return LostPortByte;
    const uint8_t value = port->read(static_cast<ParallelPortBackend::Register>(offset));
    noteLoss();
    return lost_ ? LostPortByte : value;
}

void TPortIO::SetPortByte(uint16_t address, uint8_t value) {
    uint16_t offset = 0;
    ParallelPortBackend* port = portFor(address, &offset);
    if (!port || lost_)
        return;
    port->write(static_cast<ParallelPortBackend::Register>(offset), value);
    noteLoss();
}

void TPortIO::PortControl(std::span<TPortControlRec> operations) {
    for (TPortControlRec& op : operations) {
        if (op.Write)
            SetPortByte(op.Port, op.Value);
        else
            op.Value = GetPortByte(op.Port);
    }
}

void TPortIO::PortCommand(std::span<TPortCommandRec> operations) {
    for (TPortCommandRec& op : operations) {
        const int bytes = static_cast<int>(op.Width);
        if (op.Write) {
            for (int i = 0; i < bytes; ++i)
                SetPortByte(static_cast<uint16_t>(op.Port + i),
                            static_cast<uint8_t>(op.Value >> (8 * i)));
        } else {
            uint32_t value = 0;
            for (int i = 0; i < bytes; ++i)
                value |= uint32_t{GetPortByte(static_cast<uint16_t>(op.Port + i))} << (8 * i);
            op.Value = value;
        }
    }
}
