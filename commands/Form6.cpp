#include "commands/Form6.h"

#include "protocol/CommandBuilders.h"
#include "windowkit/Handlers.h"
#include "windowkit/RadioGroupWidget.h"

#include <QPushButton>

TForm6::TForm6()
    : TSettingForm(QStringLiteral("Programação do Modo de Impressão"), {292, 179},
                   CaptionButtons::None) {
    setObjectName(QStringLiteral("Form6"));
    RadioGroup1 = radioGroup(
        this, "RadioGroup1", QStringLiteral("Selecione Tipo Impressão:"),
        {QStringLiteral("Normal"), QStringLiteral("Expandido"), QStringLiteral("Enfatizado")},
        {24, 8, 225, 105});
    // Made after RadioGroup1, so it lies over the larger group's area.
    RadioGroup2 =
        radioGroup(this, "RadioGroup2", QStringLiteral("Modo"),
                   {QStringLiteral("Normal"), QStringLiteral("Negrito")}, {112, 32, 81, 65});
    RadioGroup2->hide();
    createButtons(QStringLiteral("&Enviar"), {151, 130, 90, 39}, QStringLiteral("&Fechar"),
                  {45, 128, 92, 41});

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm6::BitBtn1Click));
    onSelectionChange(RadioGroup1, this, handler(this, &TForm6::RadioGroup1Click));
}

void TForm6::BitBtn1Click() {
    send(Commands::Command::PrintMode,
         Commands::printModeCommand(RadioGroup1->ItemIndex(), RadioGroup2->ItemIndex()));
}

void TForm6::RadioGroup1Click() {
    RadioGroup2->setVisible(RadioGroup1->ItemIndex() == 1);
}
