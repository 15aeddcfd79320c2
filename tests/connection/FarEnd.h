#pragma once

#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/comport/lines/virtual/VirtualLine.h"
#include "link/portio/LptMap.h"
#include "link/portio/VirtualParallelPort.h"
#include "sim/printer/VirtualPrinter.h"
#include "simlink/PrinterLinks.h"

#include <QList>
#include <QObject>

#include <memory>

// A silent printer would hold a read for 20 s with the stored time-outs;
// the tests wait a fraction of a second instead.
inline void scaleDownReadTimeouts(TCustomComPort& port) {
    port.Timeouts().SetReadInterval(100);
    port.Timeouts().SetReadTotalMultiplier(10);
    port.Timeouts().SetReadTotalConstant(200);
}

// What the connection and query tests put behind the program's real ports:
// COM1-COM4 and LPT1-LPT2 all lead to one virtual printer. For replies no
// sound printer gives (a short one, none at all), script() puts a stand-in
// printer on the serial line instead.
class FarEnd {
public:
    explicit FarEnd(PrinterModel model = PrinterModel::KorvexaDual) : printer(model) {
        PortMap::reset();
        LptMap::reset();
        for (const char* com : {"COM1", "COM2", "COM3", "COM4"})
            PortMap::map(QLatin1String(com), QLatin1String(PortMap::VirtualDevice));
        for (const char* lpt : {"LPT1", "LPT2"})
            LptMap::map(QLatin1String(lpt), QLatin1String(LptMap::VirtualDevice));
        links.installProviders();
        QObject::connect(&printer, &VirtualPrinter::logged, &context,
                         [this](const PrinterLogEntry& entry) {
                             if (entry.kind == PrinterLogEntry::Kind::Received)
                                 received += entry.bytes;
                         });
    }

    ~FarEnd() {
        if (scripted_)
            PortMap::setVirtualLineProvider(printerProvider_);
        PortMap::reset();
        LptMap::reset();
    }

    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    // From now on a serial port opens a line whose far end answers each
    // complete query request with reply (with nothing when it is empty).
    std::shared_ptr<VirtualLine> script(const QByteArray& reply) {
        return script(QList<QByteArray>{reply});
    }
    // The same with one reply per request, in order, the last one repeated.
    std::shared_ptr<VirtualLine> script(QList<QByteArray> replies) {
        scripted_ = VirtualLine::create();
        std::weak_ptr<VirtualLine> weak = scripted_;
        // The line copies its handler for each call, so the queue is shared.
        const auto queue = std::make_shared<QList<QByteArray>>(std::move(replies));
        scripted_->setReceiver(&context, [this, weak, queue](const QByteArray& bytes) {
            received += bytes;
            pending_ += bytes;
            // Bytes come in chunks of line time: answer once a whole request is in.
            const bool identification = pending_.startsWith("\x1bI") && pending_.size() >= 3;
            const bool status = pending_ == "\x1bv" || pending_ == "\x1bV";
            if (!identification && !status)
                return;
            pending_.clear();
            const QByteArray reply = queue->size() > 1 ? queue->takeFirst() : queue->value(0);
            if (const auto line = weak.lock(); line && !reply.isEmpty())
                line->send(reply);
        });
        const auto line = scripted_;
        printerProvider_ = PortMap::setVirtualLineProvider([line](const QString&) { return line; });
        return scripted_;
    }

    QObject context;
    VirtualPrinter printer;
    PrinterLinks links{&printer};
    // Every byte the far end has taken from the program, in order.
    QByteArray received;

private:
    std::shared_ptr<VirtualLine> scripted_;
    QByteArray pending_;
    PortMap::VirtualLineProvider printerProvider_;
};
