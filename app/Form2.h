#pragma once

#include "windowkit/FormBase.h"

class QLabel;
class QPushButton;

// "Sobre": the About window. Closing it hands the operator back to the main
// window (closed).
class TForm2 : public TFormBase {
    Q_OBJECT
public:
    TForm2();

    QLabel* Image1;
    QLabel* StaticText3;
    QLabel* StaticText2;
    QLabel* StaticText1;
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* BitBtn1;

public slots:
    void BitBtn1Click();

signals:
    void closed();
};
