#include "commands/Form12.h"

#include "protocol/CommandBuilders.h"
#include "windowkit/Handlers.h"
#include "windowkit/RadioGroupWidget.h"

#include <QPushButton>

TForm12::TForm12()
    : TSettingForm(QStringLiteral("Programa Carac/Linha"), {240, 211}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form12"));
    RadioGroup1 = radioGroup(
        this, "RadioGroup1", QStringLiteral("Carac/Linha"),
        {QStringLiteral("40 Carac."), QStringLiteral("48 Carac."), QStringLiteral("60 Carac.")},
        {40, 24, 153, 105});
    createButtons(QStringLiteral("&Enviar"), {128, 160, 89, 33}, QStringLiteral("&Fechar"),
                  {32, 160, 89, 33});

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm12::BitBtn1Click));
}

void TForm12::BitBtn1Click() {
    send(Commands::Command::CharactersPerLine,
         Commands::charactersPerLineCommand(RadioGroup1->ItemIndex()));
}
