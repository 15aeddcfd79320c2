#include "commands/Form11.h"

#include "protocol/CommandBuilders.h"
#include "protocol/ParameterRules.h"
#include "windowkit/Handlers.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TForm11::TForm11()
    : TSettingForm(QStringLiteral("Tamanho Página"), {261, 107}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form11"));
    Label1 = new QLabel(QStringLiteral("Tam. Página :"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->adjustSize();
    Label1->move(80, 19);
    Edit1 = entry(this, "Edit1", QStringLiteral("1"), 2, {152, 16, 25, 21});
    createButtons(QStringLiteral("Enviar"), {136, 64, 75, 33}, QStringLiteral("Fechar"),
                  {40, 64, 81, 33});

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm11::BitBtn1Click));
}

void TForm11::BitBtn1Click() {
    send(Commands::Command::PageSize,
         Commands::pageSizeCommand(Commands::decimalToInt(Edit1->text())));
}
