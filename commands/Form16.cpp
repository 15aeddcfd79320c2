#include "commands/Form16.h"

#include "protocol/CommandBuilders.h"
#include "windowkit/Handlers.h"
#include "windowkit/RadioGroupWidget.h"

#include <QPushButton>

TForm16::TForm16()
    : TSettingForm(QStringLiteral("Teclado"), {218, 162}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form16"));
    RadioGroup1 =
        radioGroup(this, "RadioGroup1", QStringLiteral("Status do Teclado"),
                   {QStringLiteral("Ligado"), QStringLiteral("Desligado")}, {40, 16, 145, 89});
    createButtons(QStringLiteral("&Enviar"), {120, 120, 81, 33}, QStringLiteral("&Fechar"),
                  {16, 120, 89, 33});

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm16::BitBtn1Click));
}

void TForm16::BitBtn1Click() {
    send(Commands::Command::Keyboard, Commands::keyboardCommand(RadioGroup1->ItemIndex()));
}
