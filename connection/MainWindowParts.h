#pragma once

class QAction;
class QLabel;
class QTimer;
class QWidget;
class TComLed;
class TPortIO;

// The parts of the main window that the connection dialogs switch: its menu
// items, LEDs, labels, status timer and PortIO1. The main window sits on the
// floor above this folder, so start-up fills this record in once Form1 exists
// and clears it when Form1 goes; the dialogs never include the main window.
struct TMainWindowParts {
    QWidget* Form1 = nullptr;
    QAction* Serial1 = nullptr;
    QAction* Paralela1 = nullptr;
    TComLed* ComLed1 = nullptr;
    TComLed* ComLed2 = nullptr;
    TComLed* ComLed3 = nullptr;
    TComLed* ComLed4 = nullptr;
    TComLed* ComLed5 = nullptr;
    QLabel* Label1 = nullptr; // "CTS" or "BUSY"
    QLabel* Label3 = nullptr; // "Erro"
    QTimer* Timer1 = nullptr;
    TPortIO* PortIO1 = nullptr;
};

extern TMainWindowParts MainWindow;
