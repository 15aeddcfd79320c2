#include "commands/Form14.h"

#include "protocol/CommandBuilders.h"
#include "windowkit/Handlers.h"
#include "windowkit/RadioGroupWidget.h"

TForm14::TForm14()
    : TSettingForm(QStringLiteral("Sensor Papel"), {167, 111}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form14"));
    RadioGroup1 =
        radioGroup(this, "RadioGroup1", QStringLiteral("Status"),
                   {QStringLiteral("Ligado"), QStringLiteral("Desligado")}, {24, 8, 113, 81});

    onSelectionChange(RadioGroup1, this, handler(this, &TForm14::RadioGroup1Click));
}

// A refused send leaves the new selection standing, though nothing was sent.
void TForm14::RadioGroup1Click() {
    send(Commands::Command::PaperSensor, Commands::paperSensorCommand(RadioGroup1->ItemIndex()));
}
