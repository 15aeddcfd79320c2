#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <memory>

class PrinterClock;
class PrinterLinks;
class QDockWidget;
class QMainWindow;
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

// The size a docked printer asks for: its natural size, as far as the
// available screen area leaves room beside the main window's client area
// (taken with the window system's frame and the dock's own title and
// margins, given as extra), never below its minimum.
QSize dockedSize(QSize natural, QSize minimum, QSize available, QSize mainClient, QSize extra);

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
