#pragma once

#include "commands/FormSetting.h"

// "Programação da Autenticação": prints a text on the chosen device. It stays
// open after a send, so the same or an edited text can go again.
class TForm8 : public TSettingForm {
    Q_OBJECT
public:
    TForm8();

    TRadioGroup* RadioGroup1; // "Título", "Título e Fita Detalhe", "Título e Documento"
    QLineEdit* Edit1;         // the text, sent in Windows-1252

public slots:
    void BitBtn1Click();
};
