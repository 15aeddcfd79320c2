#include "commands/Form8.h"

TForm8::TForm8()
    : TFormBase(QStringLiteral("Programação da Autenticação"), {310, 213}, CaptionButtons::None,
                QPoint(300, 211)) {
    setObjectName(QStringLiteral("Form8"));
}
