#include "commands/Form7.h"

TForm7::TForm7()
    : TFormBase(QStringLiteral("Sinalização do RTS"), {294, 197}, CaptionButtons::None,
                QPoint(327, 162)) {
    setObjectName(QStringLiteral("Form7"));
}
