#pragma once

#include "windowkit/FormBase.h"

class QComboBox;
class QPushButton;
class TDotGrid;

// "Programação BITMAP": draws a user-defined character on a 9 x 8 grid and
// downloads it as one of the sixteen codes 0xB0 to 0xBF.
class TForm10 : public TFormBase {
    Q_OBJECT
public:
    TForm10();

    TDotGrid* Grid;       // the 72 dots, kept in UserCharColumns
    QComboBox* ComboBox1; // "Caracter 1" ... "Caracter 16", editable
    QPushButton* BitBtn1; // "&Fechar"
    QPushButton* BitBtn2; // "&Enviar"

public slots:
    void BitBtn1Click();
    void BitBtn2Click();
};
