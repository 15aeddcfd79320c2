#pragma once

#include "link/comport/ComTypes.h"
#include "windowkit/FormBase.h"

#include <array>

class QLabel;
class QPushButton;
class QStatusBar;
class TComPort;
class TCustomComPort;
class TDeviceReturn;
class TRadioGroup;

// "Configuração da Serial": connects to the printer over a serial port. It
// owns ComPort1, the one serial port every serial sender writes and reads;
// the port lives, open or closed, as long as the window. Its four event
// handlers keep the link state's CtsActive and TxPending current.
class TForm3 : public TFormBase {
    Q_OBJECT
public:
    TForm3();
    ~TForm3() override;

    TRadioGroup* RadioGroup1; // "Baud Rate", shown at 9600, not choosable
    TRadioGroup* RadioGroup2; // "Porta Serial"
    TRadioGroup* RadioGroup3; // "Stop Bits", shown at 1, not choosable
    TRadioGroup* RadioGroup4; // "Paridade", shown at "Nenhuma", not choosable
    QPushButton* BitBtn2;
    QPushButton* BitBtn1;
    QStatusBar* StatusBar1;
    // The status bar's panels, left to right: port, baud rate, stop bits,
    // parity, connection state.
    std::array<QLabel*, 5> Panels;
    TComPort* ComPort1;

public slots:
    void BitBtn2Click();
    void BitBtn1Click();

public:
    void ComPort1RxChar(TCustomComPort* Sender, int Count);
    void ComPort1TxEmpty(TCustomComPort* Sender);
    void ComPort1Error(TCustomComPort* Sender, TComErrors Errors);
    void ComPort1CTSChange(TCustomComPort* Sender, bool OnOff);

    // The line hung up (a USB adapter pulled out): ends the connection as
    // "Desconectar" does, at once, and tells the operator, once. Unless the
    // operator turned it off, the same port connects again by itself when
    // its device comes back, while this dialog still has it selected. A
    // network line's server that keeps dropping the connections it takes
    // is one outage, told once, the dialog waiting for the server meanwhile.
    void LineLost();

private:
    void createControls();
    void wireHandlers();
    void applySelections();
    void showDisconnected();
    void showWaitingForServer();
    void disconnectPort();
    // Opens ComPort1 with the dialog showing it connected; a failure shows
    // the dialog disconnected again, with the box when tellFailure is set.
    bool connectPort(bool tellFailure);
    void reconnect();
    void modelProbe();

    TDeviceReturn* deviceReturn_;
    // The port item the lost connection had.
    int lostPort_ = -1;
};
