#include "app/Form4.h"

#include "app/Form1.h"
#include "app/Forms.h"
#include "app/Handlers.h"

#include <QPushButton>

TForm4::TForm4() : TFormBase(QStringLiteral("Abrir Arquivo"), {426, 389}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form4"));
    setToolTip(QStringLiteral("Habilita visualização do arquivo em Hexadecimal"));

    BitBtn1 = bitBtn(this, "BitBtn1", QStringLiteral("Cancel"),
                     QIcon(QStringLiteral(":/pictures/close.png")), {168, 345, 97, 32}, 16);
    setCancelButton(BitBtn1);

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm4::BitBtn1Click));
}

void TForm4::BitBtn1Click() {
    Form1->setEnabled(true);
    hide();
}
