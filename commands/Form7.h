#pragma once

#include "commands/FormSetting.h"

// "Sinalização do RTS": what the printer's ready line signals.
class TForm7 : public TSettingForm {
    Q_OBJECT
public:
    TForm7();

    TRadioGroup* RadioGroup1; // "Sinaliza On/Off Line", "Sinaliza Autenticação"

public slots:
    void BitBtn1Click();
};
