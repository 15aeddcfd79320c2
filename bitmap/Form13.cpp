#include "bitmap/Form13.h"

#include "bitmap/DotGridWidget.h"
#include "bitmap/DotGrids.h"
#include "bitmap/GridCommands.h"
#include "commands/SendProcedure.h"
#include "windowkit/Handlers.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QCheckBox>
#include <QFontMetricsF>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QPushButton>

namespace {

constexpr int ColumnPitch = 12;

} // namespace

TForm13::TForm13()
    : TFormBase(QStringLiteral("Impressão do Bitmap"), {801, 216}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form13"));

    Grid = new TDotGrid(BitmapColumns, {{16, 32}, {ColumnPitch, ColumnPitch}, {13, 13}}, this);
    createRuler();

    CheckBox1 = checkBox(this, "CheckBox1", QStringLiteral("Inverter Bitmap"), {312, 152, 105, 17});
    CheckBox2 =
        checkBox(this, "CheckBox2", QStringLiteral("Corrigir dupla coluna"), {312, 168, 129, 17});
    CheckBox3 =
        checkBox(this, "CheckBox3", QStringLiteral("Mostrar Valor em HEX"), {312, 184, 129, 17});

    RadioGroup1 =
        radioGroup(this, "RadioGroup1", QStringLiteral("Modo"),
                   {QStringLiteral("Simples"), QStringLiteral("Dupla")}, {448, 144, 113, 57});
    // Two items and the caption fill the group's 57 pixels only with thin margins.
    RadioGroup1->layout()->setContentsMargins(12, 2, 8, 2);

    BitBtn1 = bitBtn(this, "BitBtn1", QStringLiteral("&Fechar"),
                     QIcon(QStringLiteral(":/pictures/close.png")), {584, 168, 89, 33}, 16);
    BitBtn2 = bitBtn(this, "BitBtn2", QStringLiteral("&Enviar"),
                     QIcon(QStringLiteral(":/pictures/send.png")), {688, 168, 89, 33}, 16);
    setCancelButton(BitBtn1);

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm13::BitBtn1Click));
    connect(BitBtn2, &QPushButton::clicked, this, handler(this, &TForm13::BitBtn2Click));
}

// The column numbers 1 to 64 modulo 10, one digit and one blank per column.
// The spacing is set so that every digit stays above its column, whatever
// the substituted font's widths.
void TForm13::createRuler() {
    QStringList digits;
    for (int column = 1; column <= BitmapColumnCount; ++column)
        digits << QString::number(column % 10);
    Label1 = new QLabel(digits.join(u' '), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont ruler(QStringLiteral("Arial"));
    ruler.setPixelSize(15);
    const qreal pair = QFontMetricsF(ruler).horizontalAdvance(QStringLiteral("0 "));
    ruler.setLetterSpacing(QFont::AbsoluteSpacing, (ColumnPitch - pair) / 2);
    Label1->setFont(ruler);
    Label1->setGeometry(18, 13, 764, 17);
}

void TForm13::BitBtn1Click() {
    hide();
}

// The options work on the command's copy of the columns; the hexadecimal
// display comes before the link check, so it shows even with no interface.
void TForm13::BitBtn2Click() {
    const QByteArray command = Bitmap::bitmapPrintCommand(
        BitmapColumns, {RadioGroup1->ItemIndex(), CheckBox1->isChecked(), CheckBox2->isChecked()});
    if (CheckBox3->isChecked())
        Messages::plainMessage(Bitmap::bitmapHexText(command));
    Commands::sendCommand(Commands::Command::BitmapPrint, command);
}
