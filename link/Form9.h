#pragma once

#include "app/FormBase.h"

// "Configuração Paralela": connects to the printer over the parallel port.
class TForm9 : public TFormBase {
    Q_OBJECT
public:
    TForm9();
};
