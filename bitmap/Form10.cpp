#include "bitmap/Form10.h"

#include "bitmap/DotGridWidget.h"
#include "bitmap/DotGrids.h"
#include "bitmap/GridCommands.h"
#include "commands/SendProcedure.h"
#include "windowkit/Handlers.h"
#include "windowkit/Messages.h"

#include <QComboBox>
#include <QIcon>
#include <QPushButton>

namespace {
const QString ChooseCharacter =
    QStringLiteral("Escolha na lista um dos 16 caracteres (Caracter 1 a Caracter 16)");
} // namespace

TForm10::TForm10()
    : TFormBase(QStringLiteral("Programação BITMAP"), {259, 306}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form10"));

    Grid = new TDotGrid(UserCharColumns, {{56, 16}, {16, 24}, {17, 25}}, this);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    // A typed text stays a typed text: Enter does not add it to the list.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    for (int n = 1; n <= Bitmap::UserCharacterCount; ++n)
        ComboBox1->addItem(QStringLiteral("Caracter %1").arg(n));
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setGeometry(32, 224, 193, ComboBox1->sizeHint().height());

    BitBtn1 = bitBtn(this, "BitBtn1", QStringLiteral("&Fechar"),
                     QIcon(QStringLiteral(":/pictures/close.png")), {32, 256, 97, 41});
    BitBtn2 = bitBtn(this, "BitBtn2", QStringLiteral("&Enviar"),
                     QIcon(QStringLiteral(":/pictures/send.png")), {136, 256, 97, 41});
    setCancelButton(BitBtn1);

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm10::BitBtn1Click));
    connect(BitBtn2, &QPushButton::clicked, this, handler(this, &TForm10::BitBtn2Click));
}

void TForm10::BitBtn1Click() {
    hide();
}

// Only a character of the list has a code: a typed text that names none of
// them (in any case) is refused before anything reaches the printer.
void TForm10::BitBtn2Click() {
    const int index = ComboBox1->findText(ComboBox1->currentText(), Qt::MatchFixedString);
    const auto command = Bitmap::userCharacterDownloadCommand(index, UserCharColumns);
    if (!command) {
        Messages::plainMessage(ChooseCharacter);
        return;
    }
    Commands::sendCommand(Commands::Command::UserCharacterDownload, *command, [this] { hide(); });
}
