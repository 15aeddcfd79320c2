#include "link/Form9.h"

TForm9::TForm9()
    : TFormBase(QStringLiteral("Configuração Paralela"), {249, 188}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form9"));
}
