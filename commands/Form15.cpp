#include "commands/Form15.h"

#include "link/LinkState.h"
#include "protocol/CommandBuilders.h"
#include "protocol/ParameterRules.h"
#include "windowkit/Handlers.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
QFont pixels(QFont font, int size) {
    font.setPixelSize(size);
    return font;
}
} // namespace

TForm15::TForm15()
    : TSettingForm(QStringLiteral("Avança linhas"), {237, 141}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form15"));
    Label1 = new QLabel(QStringLiteral("Numero de linhas:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(pixels(font(), 19));
    Label1->setGeometry(8, 32, 155, 24);
    Edit1 = entry(this, "Edit1", QStringLiteral("00"), 2, {176, 32, 33, 37});
    Edit1->setFont(pixels(font(), 24));
    createButtons(QStringLiteral("Enviar"), {120, 96, 75, 33}, QStringLiteral("&Fechar"),
                  {24, 96, 75, 33});

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm15::BitBtn1Click));
}

void TForm15::BitBtn1Click() {
    send(
        Commands::Command::LineFeed,
        Commands::lineFeedCommand(Commands::decimalToInt(Edit1->text()), LinkState.CompatibleMode));
}
