#pragma once

#include "app/FormBase.h"

// "Teclado": the keyboard setting.
class TForm16 : public TFormBase {
    Q_OBJECT
public:
    TForm16();
};
