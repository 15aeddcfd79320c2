#pragma once

#include "app/FormBase.h"

// "Sensor Papel": the paper sensor setting.
class TForm14 : public TFormBase {
    Q_OBJECT
public:
    TForm14();
};
