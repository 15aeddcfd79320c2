#pragma once

#include "app/FormBase.h"

// "Programação da Autenticação": the authentication text.
class TForm8 : public TFormBase {
    Q_OBJECT
public:
    TForm8();
};
