#include "app/Form5.h"

#include <QPlainTextEdit>

namespace {

const char* const History = "Histórico de versões do Tellumo\n"
                            "\n"
                            "Versão 3.3 - Dezembro/2005\n"
                            "  - Impressão de bitmap em linha de imagem, simples ou dupla.\n"
                            "  - Programação de caracteres do usuário em grade de 9 x 8 pontos.\n"
                            "  - Modo compatível com a impressora de 40/48 colunas.\n"
                            "\n"
                            "Versão 3.0\n"
                            "  - Comunicação pela porta paralela (LPT1 e LPT2) com leitura\n"
                            "    dos sinais de ocupado e erro.\n"
                            "  - Diálogos de programação: modo de impressão, página, caracteres\n"
                            "    por linha, sensor de papel, avanço de linhas e teclado.\n"
                            "\n"
                            "Versão 2.0\n"
                            "  - Consulta de status, modelo e firmware da impressora.\n"
                            "  - Autenticação e sinalização do RTS.\n"
                            "\n"
                            "Versão 1.0\n"
                            "  - Envio de arquivos texto pela porta serial, em blocos,\n"
                            "    com cancelamento.\n";

} // namespace

TForm5::TForm5() : TFormBase(QStringLiteral("Histórico"), {536, 348}, CaptionButtons::SystemMenu) {
    setObjectName(QStringLiteral("Form5"));

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setFrameStyle(QFrame::NoFrame);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(13);
    Memo1->setFont(font);
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Text, Qt::blue);
    Memo1->setPalette(palette);
    Memo1->setPlainText(QString::fromUtf8(History));
    Memo1->setGeometry(8, 16, 513, 321);
}
