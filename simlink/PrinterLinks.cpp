#include "simlink/PrinterLinks.h"

#include "link/comport/PortMap.h"
#include "link/comport/lines/virtual/VirtualLine.h"
#include "link/portio/LptMap.h"
#include "link/portio/VirtualParallelPort.h"
#include "sim/printer/PrinterClock.h"
#include "sim/printer/VirtualPrinter.h"

PrinterLinks::PrinterLinks(VirtualPrinter* printer, PrinterClock* clock, QObject* parent)
    : QObject(parent), printer_(printer), clock_(clock) {
    connect(printer_, &VirtualPrinter::replied, this, &PrinterLinks::reply);
    connect(printer_, &VirtualPrinter::stateChanged, this, &PrinterLinks::followPrinter);
}

PrinterLinks::~PrinterLinks() {
    if (providersInstalled_) {
        PortMap::setVirtualLineProvider(previousLineProvider_);
        LptMap::setVirtualPortProvider(previousPortProvider_);
    }
    for (const auto& port : std::as_const(ports_))
        port->setStrobeHandler({});
}

std::shared_ptr<VirtualLine> PrinterLinks::serialLine(const QString& portName) {
    auto& line = lines_[portName];
    if (!line) {
        line = VirtualLine::create();
        line->setCTS(printer_->ready());
        const std::weak_ptr<VirtualLine> weak = line;
        line->setReceiver(this, [this, weak](const QByteArray& bytes) { arrived(weak, bytes); });
        line->setOpenHandler(this, [this, portName](bool open) {
            printer_->logEvent(open ? QStringLiteral("%1 aberta").arg(portName)
                                    : QStringLiteral("%1 fechada").arg(portName));
        });
    }
    return line;
}

std::shared_ptr<VirtualParallelPort> PrinterLinks::parallelPort(const QString& lptName) {
    auto& port = ports_[lptName];
    if (!port) {
        port = std::make_shared<VirtualParallelPort>();
        port->setRecording(false);
        port->setStatus(printer_->parallelStatus());
        port->setStrobeHandler([this](uint8_t byte) { strobed(byte); });
    }
    return port;
}

void PrinterLinks::installProviders() {
    if (providersInstalled_)
        return;
    providersInstalled_ = true;
    previousLineProvider_ = PortMap::setVirtualLineProvider(
        [this](const QString& portName) { return serialLine(portName); });
    previousPortProvider_ = LptMap::setVirtualPortProvider(
        [this](const QString& lptName) { return parallelPort(lptName); });
}

// An empty arrival is the line telling us time passes while a write is held
// by CTS: the printer prints on and may raise CTS again.
void PrinterLinks::arrived(const std::weak_ptr<VirtualLine>& line, const QByteArray& bytes) {
    if (clock_)
        clock_->pump();
    if (bytes.isEmpty())
        return;
    asking_ = line;
    printer_->receive(bytes);
}

void PrinterLinks::strobed(uint8_t byte) {
    if (clock_)
        clock_->pump();
    asking_.reset(); // the parallel port is never read for data
    printer_->receive(QByteArray(1, static_cast<char>(byte)));
}

void PrinterLinks::reply(const QByteArray& bytes) {
    if (const auto line = asking_.lock())
        line->send(bytes);
}

void PrinterLinks::followPrinter() {
    const bool ready = printer_->ready();
    for (const auto& line : std::as_const(lines_))
        if (line->cts() != ready)
            line->setCTS(ready);
    const uint8_t status = printer_->parallelStatus();
    for (const auto& port : std::as_const(ports_))
        if (port->status() != status)
            port->setStatus(status);
}
