#include "commands/Form12.h"

TForm12::TForm12()
    : TFormBase(QStringLiteral("Programa Carac/Linha"), {240, 211}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form12"));
}
