#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Where the virtual printer's window goes on the screen, docked beside the
// main window or on its own (tellumo-printer's window).

// The window system's frame around a window's client area, once it has one.
QMargins frameMargins(const QWidget* window);

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
