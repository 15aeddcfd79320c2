#pragma once

#include "windowkit/FormBase.h"

class QCheckBox;
class QPushButton;
class TPortIO;
class TRadioGroup;

// "Configuração Paralela": connects to the printer over the parallel port
// through PortIO1 of the main window, and switches the main window's
// indicators to the parallel set while connected.
class TForm9 : public TFormBase {
    Q_OBJECT
public:
    TForm9();

    TRadioGroup* RadioGroup1; // "Seleciona Paralela": LPT1, LPT2
    QCheckBox* CheckBox1;     // "Verifica Busy", read live by the busy poll
    QCheckBox* CheckBox2;     // "Compatível", read at connect
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

public slots:
    void BitBtn1Click();
    void BitBtn2Click();
    // PortIO1's device went away (a USB cable pulled out): the connection
    // ends, with one warning.
    void PortLost();

private:
    void createControls();
    void wireHandlers();
    void disconnectPort(TPortIO& portIO);
    QString portName() const;
};
