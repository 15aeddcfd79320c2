#pragma once

#include "app/FormBase.h"

// "Tamanho Página": the page size setting.
class TForm11 : public TFormBase {
    Q_OBJECT
public:
    TForm11();
};
