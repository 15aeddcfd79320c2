#include "commands/Form6.h"

TForm6::TForm6()
    : TFormBase(QStringLiteral("Programação do Modo de Impressão"), {292, 179},
                CaptionButtons::None) {
    setObjectName(QStringLiteral("Form6"));
}
