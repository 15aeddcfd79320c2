#include "app/Form4.h"

TForm4::TForm4() : TFormBase(QStringLiteral("Abrir Arquivo"), {426, 389}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form4"));
    setToolTip(QStringLiteral("Habilita visualização do arquivo em Hexadecimal"));
}
