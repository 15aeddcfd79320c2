#pragma once

#include "app/FormBase.h"

class QPushButton;

// "Abrir Arquivo": the open-file dialog. The main window stays disabled while
// it is open; its Cancel button is the way back without loading.
class TForm4 : public TFormBase {
    Q_OBJECT
public:
    TForm4();

    QPushButton* BitBtn1; // "Cancel"

    void BitBtn1Click();
};
