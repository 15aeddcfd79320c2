#pragma once

#include "commands/FormSetting.h"

// "Programação do Modo de Impressão": the print mode setting. "Modo" shows
// only while "Expandido" is selected.
class TForm6 : public TSettingForm {
    Q_OBJECT
public:
    TForm6();

    TRadioGroup* RadioGroup1; // "Normal", "Expandido", "Enfatizado"
    TRadioGroup* RadioGroup2; // "Modo": "Normal", "Negrito"

public slots:
    void BitBtn1Click();
    void RadioGroup1Click();
};
