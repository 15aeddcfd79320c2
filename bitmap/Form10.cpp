#include "bitmap/Form10.h"

TForm10::TForm10()
    : TFormBase(QStringLiteral("Programação BITMAP"), {259, 306}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form10"));
}
