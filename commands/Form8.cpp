#include "commands/Form8.h"

#include "protocol/CommandBuilders.h"
#include "windowkit/Handlers.h"
#include "windowkit/RadioGroupWidget.h"

#include <QLineEdit>
#include <QPushButton>

TForm8::TForm8()
    : TSettingForm(QStringLiteral("Programação da Autenticação"), {310, 213}, CaptionButtons::None,
                   QPoint(300, 211)) {
    setObjectName(QStringLiteral("Form8"));
    RadioGroup1 =
        radioGroup(this, "RadioGroup1", QStringLiteral("Selecione Dispositivo para autenticação:"),
                   {QStringLiteral("Título"), QStringLiteral("Título e Fita Detalhe"),
                    QStringLiteral("Título e Documento")},
                   {30, 7, 250, 105});
    Edit1 = entry(this, "Edit1", QStringLiteral("¢¥+ Pago 01/01/2001"),
                  Commands::MaxAuthenticationText, {30, 122, 250, 21});
    Edit1->setToolTip(QStringLiteral("Digite texto da autenticação - Para imprimir Bitmap digite "
                                     "o caracter em decimal com tecla ALT pressionada"));
    // The hint shows on hover even while another window is active.
    Edit1->setAttribute(Qt::WA_AlwaysShowToolTips);
    createButtons(QStringLiteral("&Enviar"), {163, 159, 102, 42}, QStringLiteral("&Fechar"),
                  {43, 159, 102, 42});

    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm8::BitBtn1Click));
}

void TForm8::BitBtn1Click() {
    send(Commands::Command::Authentication,
         Commands::authenticationCommand(RadioGroup1->ItemIndex(), Edit1->text()));
}
