#pragma once

#include "app/FormBase.h"

// "Impressão do Bitmap": draws and prints a bit-image line.
class TForm13 : public TFormBase {
    Q_OBJECT
public:
    TForm13();
};
