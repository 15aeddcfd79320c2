#include "commands/Form14.h"

TForm14::TForm14()
    : TFormBase(QStringLiteral("Sensor Papel"), {167, 111}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form14"));
}
