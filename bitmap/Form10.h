#pragma once

#include "app/FormBase.h"

// "Programação BITMAP": draws and downloads a user-defined character.
class TForm10 : public TFormBase {
    Q_OBJECT
public:
    TForm10();
};
