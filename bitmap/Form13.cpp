#include "bitmap/Form13.h"

TForm13::TForm13()
    : TFormBase(QStringLiteral("Impressão do Bitmap"), {801, 216}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form13"));
}
