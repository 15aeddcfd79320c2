#pragma once

#include "commands/FormSetting.h"

class QLabel;

// "Tamanho Página": the page size setting. Entries outside 1 to 39 send 30.
class TForm11 : public TSettingForm {
    Q_OBJECT
public:
    TForm11();

    QLabel* Label1;
    QLineEdit* Edit1;

public slots:
    void BitBtn1Click();
};
