#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <memory>

class PrinterClock;
class PrinterLinks;
class QWidget;
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
    // Shows the window wholly on the screen, beside the main window when
    // there is room; shown again, it comes back where it was left.
    void showBeside(QWidget* mainWindow);

private:
    std::unique_ptr<VirtualPrinter> printer_;
    std::unique_ptr<PrinterClock> clock_;
    std::unique_ptr<PrinterLinks> links_;
    std::unique_ptr<VirtualPrinterWindow> window_;
    bool placed_ = false;
};

// Where two windows go, as frame rectangles' top-left corners.
struct WindowPlaces {
    QPoint main;
    QPoint beside;
};
// Places a window of the given frame size wholly inside the available screen
// area: right of the main window, else left of it; when neither side has room
// but the two fit side by side, the main window moves over to make room;
// otherwise the main window goes to the left edge and the window to the right
// edge, covering as little of it as it can. Without a main window (a null
// rectangle) it is centred.
WindowPlaces placeBeside(QSize frame, const QRect& mainFrame, const QRect& available);

// Shows a window placed by placeBeside() on the main window's screen, made
// smaller when it is larger than the screen. mainWindow may be null.
void showOnScreen(QWidget* window, QWidget* mainWindow);
