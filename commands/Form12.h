#pragma once

#include "app/FormBase.h"

// "Programa Carac/Linha": the characters per line setting.
class TForm12 : public TFormBase {
    Q_OBJECT
public:
    TForm12();
};
