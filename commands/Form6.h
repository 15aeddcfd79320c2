#pragma once

#include "app/FormBase.h"

// "Programação do Modo de Impressão": the print mode setting.
class TForm6 : public TFormBase {
    Q_OBJECT
public:
    TForm6();
};
