#pragma once

#include "windowkit/FormBase.h"

class QCheckBox;
class QLabel;
class QPushButton;
class TDotGrid;
class TRadioGroup;

// "Impressão do Bitmap": draws a 64 x 8 strip and prints it as one bit-image
// line, optionally inverted, thinned and shown in hexadecimal first. It stays
// open after printing, ready for the next one.
class TForm13 : public TFormBase {
    Q_OBJECT
public:
    TForm13();

    TDotGrid* Grid;           // the 512 dots, kept in BitmapColumns
    QLabel* Label1;           // the column ruler
    QCheckBox* CheckBox1;     // "Inverter Bitmap"
    QCheckBox* CheckBox2;     // "Corrigir dupla coluna"
    QCheckBox* CheckBox3;     // "Mostrar Valor em HEX"
    TRadioGroup* RadioGroup1; // "Modo": "Simples", "Dupla"
    QPushButton* BitBtn1;     // "&Fechar"
    QPushButton* BitBtn2;     // "&Enviar"

public slots:
    void BitBtn1Click();
    void BitBtn2Click();

private:
    void createRuler();
};
