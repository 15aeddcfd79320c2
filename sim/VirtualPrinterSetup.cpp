#include "sim/VirtualPrinterSetup.h"

#include "app/CommandLine.h"
#include "link/comport/PortMap.h"
#include "link/portio/LptMap.h"
#include "sim/PrinterClock.h"
#include "sim/PrinterLinks.h"
#include "sim/VirtualPrinter.h"
#include "sim/VirtualPrinterWindow.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

VirtualPrinterStation::VirtualPrinterStation()
    : printer_(std::make_unique<VirtualPrinter>()),
      clock_(std::make_unique<PrinterClock>(printer_.get())),
      links_(std::make_unique<PrinterLinks>(printer_.get(), clock_.get())),
      window_(std::make_unique<VirtualPrinterWindow>(printer_.get())) {
    links_->installProviders();
    clock_->start();
}

// The window goes before the links and the printer it shows.
VirtualPrinterStation::~VirtualPrinterStation() {
    window_.reset();
    links_.reset();
    clock_.reset();
}

void VirtualPrinterStation::showBeside(QWidget* mainWindow) {
    VirtualPrinterWindow* window = window_.get();
    window->show();
    if (!mainWindow)
        return;
    // The main window has its frame only once the event loop has shown it.
    QTimer::singleShot(0, window, [window, mainWindow = QPointer<QWidget>(mainWindow)] {
        if (!mainWindow)
            return;
        const QRect frame = mainWindow->frameGeometry();
        window->move(frame.right() + 8, frame.top());
        window->raise();
    });
}

std::unique_ptr<VirtualPrinterStation> setUpVirtualPrinter(const CommandLineOptions& options,
                                                           QWidget* mainWindow) {
    const QString virtualDevice = QString::fromLatin1(PortMap::VirtualDevice);
    bool wanted = options.virtualPrinter;
    if (options.virtualPrinter) {
        for (int n = 1; n <= 4; ++n) {
            const QString name = QStringLiteral("COM%1").arg(n);
            if (!options.comDevices.contains(name))
                PortMap::map(name, virtualDevice);
        }
        for (int n = 1; n <= 2; ++n) {
            const QString name = QStringLiteral("LPT%1").arg(n);
            if (!options.lptDevices.contains(name))
                LptMap::map(name, QString::fromLatin1(LptMap::VirtualDevice));
        }
    }
    for (const QString& device : options.comDevices)
        wanted = wanted || device == virtualDevice;
    for (const QString& device : options.lptDevices)
        wanted = wanted || device == QLatin1String(LptMap::VirtualDevice);
    if (!wanted)
        return nullptr;
    auto station = std::make_unique<VirtualPrinterStation>();
    if (options.virtualPrinter)
        station->showBeside(mainWindow);
    return station;
}
