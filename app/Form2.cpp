#include "app/Form2.h"

#include "windowkit/Handlers.h"

#include <QLabel>
#include <QPushButton>

namespace {

QLabel* text(QWidget* parent, const char* name, const QString& caption, const QColor& colour,
             int pixels, bool bold, const QString& family = QStringLiteral("MS Sans Serif")) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

} // namespace

TForm2::TForm2() : TFormBase(QStringLiteral("Sobre"), {398, 263}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form2"));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/about.png")));
    Image1->setGeometry(8, 16, 153, 41);

    StaticText3 = text(this, "StaticText3", QStringLiteral("Tellumo"), Qt::blue, 48, false,
                       QStringLiteral("Black Chancery"));
    StaticText3->adjustSize();
    StaticText3->move(168, 8);

    StaticText2 = text(this, "StaticText2", QStringLiteral("Versão 3.3  Dezembro/ 2005"), Qt::black,
                       11, false);
    StaticText2->setGeometry(240, 63, 153, 16);

    StaticText1 = text(this, "StaticText1", QStringLiteral("Aplicativo para teste da Korvexa Dual"),
                       Qt::blue, 19, true);
    StaticText1->setGeometry(16, 89, 361, 32);

    Label1 =
        text(this, "Label1", QStringLiteral("Compatível com Windows95, Windows98 e Windows ME"),
             Qt::blue, 13, false);
    Label1->adjustSize();
    Label1->move(32, 128);

    Label2 = text(this, "Label2",
                  QStringLiteral("Compatível com Korvex  versão de firmware 07010112 ou superior"),
                  Qt::blue, 13, false);
    Label2->adjustSize();
    Label2->move(8, 144);

    BitBtn1 = bitBtn(this, "BitBtn1", QStringLiteral("&Fechar"),
                     QIcon(QStringLiteral(":/pictures/close.png")), {312, 224, 79, 32}, 16);
    setCancelButton(BitBtn1);

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm2::BitBtn1Click));
}

void TForm2::BitBtn1Click() {
    hide();
    emit closed();
}
