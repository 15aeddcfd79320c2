#pragma once

#include "commands/FormSetting.h"

class QLabel;

// "Avança linhas": feeds the number of lines typed, in the connected
// printer's dialect.
class TForm15 : public TSettingForm {
    Q_OBJECT
public:
    TForm15();

    QLabel* Label1;
    QLineEdit* Edit1;

public slots:
    void BitBtn1Click();
};
