#pragma once

#include "windowkit/FormBase.h"

class QPlainTextEdit;

// "Histórico": the program's version history, shown from the main window's
// lower picture.
class TForm5 : public TFormBase {
    Q_OBJECT
public:
    TForm5();

    QPlainTextEdit* Memo1;
};
