#include "commands/Form15.h"

TForm15::TForm15()
    : TFormBase(QStringLiteral("Avança linhas"), {237, 141}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form15"));
}
