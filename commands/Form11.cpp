#include "commands/Form11.h"

TForm11::TForm11() : TFormBase(QStringLiteral("Tamanho Página"), {261, 107}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form11"));
}
