#pragma once

#include "commands/FormSetting.h"

// "Teclado": switches the printer's panel keys on or off.
class TForm16 : public TSettingForm {
    Q_OBJECT
public:
    TForm16();

    TRadioGroup* RadioGroup1; // "Status do Teclado": "Ligado", "Desligado"

public slots:
    void BitBtn1Click();
};
