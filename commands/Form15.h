#pragma once

#include "app/FormBase.h"

// "Avança linhas": line feeds.
class TForm15 : public TFormBase {
    Q_OBJECT
public:
    TForm15();
};
