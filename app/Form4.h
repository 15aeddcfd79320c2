#pragma once

#include "app/FormBase.h"

// "Abrir Arquivo": the open-file dialog.
class TForm4 : public TFormBase {
    Q_OBJECT
public:
    TForm4();
};
