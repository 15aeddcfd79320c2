#pragma once

#include "commands/FormSetting.h"

// "Sensor Papel": the paper sensor setting, sent as soon as the selection
// changes. It has no buttons; its close box hides it.
class TForm14 : public TSettingForm {
    Q_OBJECT
public:
    TForm14();

    TRadioGroup* RadioGroup1; // "Status": "Ligado", "Desligado"

public slots:
    void RadioGroup1Click();
};
