#include "commands/Form16.h"

TForm16::TForm16() : TFormBase(QStringLiteral("Teclado"), {218, 162}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form16"));
}
