#include "commands/Form7.h"

#include "protocol/CommandBuilders.h"
#include "windowkit/Handlers.h"
#include "windowkit/RadioGroupWidget.h"

#include <QPushButton>

TForm7::TForm7()
    : TSettingForm(QStringLiteral("Sinalização do RTS"), {294, 197}, CaptionButtons::None,
                   QPoint(327, 162)) {
    setObjectName(QStringLiteral("Form7"));
    RadioGroup1 = radioGroup(
        this, "RadioGroup1", QStringLiteral("Selecione Opção:"),
        {QStringLiteral("Sinaliza On/Off Line"), QStringLiteral("Sinaliza Autenticação")},
        {48, 16, 217, 105});
    createButtons(QStringLiteral("&Enviar"), {167, 143, 98, 34}, QStringLiteral("&Fechar"),
                  {56, 143, 97, 34});

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm7::BitBtn1Click));
}

void TForm7::BitBtn1Click() {
    send(Commands::Command::RtsSignalling,
         Commands::rtsSignallingCommand(RadioGroup1->ItemIndex()));
}
