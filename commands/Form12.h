#pragma once

#include "commands/FormSetting.h"

// "Programa Carac/Linha": the characters per line setting.
class TForm12 : public TSettingForm {
    Q_OBJECT
public:
    TForm12();

    TRadioGroup* RadioGroup1; // "40 Carac.", "48 Carac.", "60 Carac."

public slots:
    void BitBtn1Click();
};
