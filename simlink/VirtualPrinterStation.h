#pragma once

#include <memory>

class PrinterClock;
class PrinterLinks;
class QDockWidget;
class QMainWindow;
class VirtualPrinter;
class VirtualPrinterWindow;

// The virtual printer as the program runs it: the emulation on the wall
// clock, attached to every port mapped to "virtual", and its window. main()
// makes one when a port first leads to "virtual" and keeps it to the end.
class VirtualPrinterStation {
public:
    VirtualPrinterStation();
    ~VirtualPrinterStation();
    VirtualPrinterStation(const VirtualPrinterStation&) = delete;
    VirtualPrinterStation& operator=(const VirtualPrinterStation&) = delete;

    VirtualPrinter* printer() const { return printer_.get(); }
    PrinterLinks* links() const { return links_.get(); }
    VirtualPrinterWindow* window() const { return window_.get(); }
    // Shows the printer's window docked at the right of the main window, so
    // that one top-level window holds both and neither covers the other,
    // whatever the window system does with the places a program asks for
    // (a Wayland compositor places every top-level window itself). Docked,
    // it takes what the screen leaves beside the main window. The operator
    // may float it into a window of its own or close it; shown again, it
    // comes back as it was left. Floated with its button, it goes beside
    // the main window, where the window system lets a program place it.
    void showDocked(QMainWindow* mainWindow);
    // Takes the window out of the main window, which must not destroy it:
    // the station does. Called before the main window goes.
    void undock();

private:
    void makeDock(QMainWindow* mainWindow);
    void fitOnScreen(QMainWindow* mainWindow);

    std::unique_ptr<VirtualPrinter> printer_;
    std::unique_ptr<PrinterClock> clock_;
    std::unique_ptr<PrinterLinks> links_;
    std::unique_ptr<VirtualPrinterWindow> window_;
    QDockWidget* dock_ = nullptr;
};
