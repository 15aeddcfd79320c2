#pragma once

#include "app/FormBase.h"

// "Sinalização do RTS": the RTS signalling setting.
class TForm7 : public TFormBase {
    Q_OBJECT
public:
    TForm7();
};
