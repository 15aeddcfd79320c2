#pragma once

#include "app/FormBase.h"

class TComPort;

// "Configuração da Serial": connects to the printer over a serial port. It
// owns ComPort1, the one serial port every serial sender writes and reads;
// the port lives, open or closed, as long as the window.
class TForm3 : public TFormBase {
    Q_OBJECT
public:
    TForm3();

    TComPort* ComPort1;
};
