#pragma once

#include <memory>

struct CommandLineOptions;
class PrinterClock;
class PrinterLinks;
class QWidget;
class VirtualPrinter;
class VirtualPrinterWindow;

// The virtual printer as the program runs it: the emulation on the wall
// clock, attached to every port mapped to "virtual", and its window.
class VirtualPrinterStation {
public:
    VirtualPrinterStation();
    ~VirtualPrinterStation();
    VirtualPrinterStation(const VirtualPrinterStation&) = delete;
    VirtualPrinterStation& operator=(const VirtualPrinterStation&) = delete;

    VirtualPrinter* printer() const { return printer_.get(); }
    PrinterLinks* links() const { return links_.get(); }
    VirtualPrinterWindow* window() const { return window_.get(); }
    // Shows the window with its left edge just right of the main window.
    void showBeside(QWidget* mainWindow);

private:
    std::unique_ptr<VirtualPrinter> printer_;
    std::unique_ptr<PrinterClock> clock_;
    std::unique_ptr<PrinterLinks> links_;
    std::unique_ptr<VirtualPrinterWindow> window_;
};

// For main(), after the command line's port mappings have been applied and
// the main window exists: with --virtual-printer, maps COM1-COM4 and
// LPT1-LPT2 to "virtual" (except ports the command line mapped to a device)
// and shows the printer's window beside the main window. When any port is
// mapped to "virtual", returns the station serving them, which main() keeps
// until the program ends; otherwise returns null.
std::unique_ptr<VirtualPrinterStation> setUpVirtualPrinter(const CommandLineOptions& options,
                                                           QWidget* mainWindow);
