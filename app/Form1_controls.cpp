#include "app/Form1.h"

#include "app/ClickableImage.h"
#include "link/comport/ComLed.h"
#include "link/portio/PortIO.h"
#include "windowkit/FormBase.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcutEvent>
#include <QTimer>

// The main window's controls and menu, as made once at its start.

namespace {

const QColor Silver(0xc0, 0xc0, 0xc0);

QFont sansSerif(int pixels, bool bold) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// A static text that sizes itself to its caption, placed by its top-left corner.
QLabel* staticText(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->adjustSize();
    label->move(left, top);
    return label;
}

TComLed* comLed(QWidget* parent, const char* name, TLedKind kind, int left, int top) {
    auto* led = new TComLed(parent);
    led->setObjectName(QLatin1String(name));
    led->SetKind(kind);
    led->setGeometry(left, top, 25, 25);
    return led;
}

// The main window's Alt+letter keys are taken twice: Alt+E by the menu item
// "&Enviar" and the button "&Enviar", Alt+S by the menu "&Sobre" and the button
// "&Sair". Qt would treat each as ambiguous and do nothing useful; as on the
// desktop the program was made for, the menu wins. The filter sits on each
// receiver of the key and carries out the menu's meaning.
class MenuKeyFirst : public QObject {
public:
    MenuKeyFirst(QObject* parent, QKeySequence key, std::function<void()> action)
        : QObject(parent), key_(std::move(key)), action_(std::move(action)) {}

    void watch(QObject* receiver) { receiver->installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Shortcut || static_cast<QShortcutEvent*>(event)->key() != key_)
            return false;
        action_();
        return true;
    }

private:
    QKeySequence key_;
    std::function<void()> action_;
};

QAction* menuItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

} // namespace

// Bold sans serif on silver: the controls take the window's font and colours
// unless they set their own.
void TForm1::applyLook() {
    setFont(sansSerif(13, true));
    QPalette silver = palette();
    silver.setColor(QPalette::Window, Silver);
    setPalette(silver);
    setAutoFillBackground(true);
}

void TForm1::createControls() {
    ClientArea = new QWidget(this);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    ClientArea->setFixedSize(726, 469);
    // Shown over every control that has no hint of its own.
    ClientArea->setToolTip(QStringLiteral("Software de demonstração da Korvexa"));
    setCentralWidget(ClientArea);

    Panel1 = new QFrame(ClientArea);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);
    Panel1->setGeometry(64, 16, 585, 121);
    Image2 = new QLabel(Panel1);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setPixmap(QPixmap(QStringLiteral(":/pictures/banner.png")));
    Image2->setGeometry(4, 4, 577, 113);

    createFileControls();

    createButtonsAndLeds();

    Image1 = new ClickableImage(ClientArea);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/receipt.png")));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setGeometry(344, 360, 377, 89);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(400);

    PortIO1 = new TPortIO(this);
    PortIO1->setObjectName(QStringLiteral("PortIO1"));
}

// The loaded file's text, progress, name and size.
void TForm1::createFileControls() {
    StaticText1 =
        staticText(ClientArea, "StaticText1", QStringLiteral("Texto do arquivo"), 14, 160);

    RichEdit1 = new QPlainTextEdit(ClientArea);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setReadOnly(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Regular, not the window's bold: a font that leaves its weight unset
    // takes the parent's.
    QFont courier(QStringLiteral("Courier New"));
    courier.setPixelSize(13);
    courier.setBold(false);
    courier.setStyleHint(QFont::TypeWriter);
    RichEdit1->setFont(courier);
    RichEdit1->setGeometry(16, 184, 321, 217);

    ProgressBar1 = new QProgressBar(ClientArea);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(14, 424, 323, 25);

    StaticText6 = staticText(ClientArea, "StaticText6", QStringLiteral("Arquivo"), 355, 180);

    StaticText7 = new QLabel(ClientArea);
    StaticText7->setObjectName(QStringLiteral("StaticText7"));
    StaticText7->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StaticText7->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    StaticText7->setFont(sansSerif(19, true));
    StaticText7->setToolTip(QStringLiteral("Mostra o nome do arquivo"));
    StaticText7->setGeometry(352, 204, 161, 33);

    StaticText2 =
        staticText(ClientArea, "StaticText2", QStringLiteral("Tamanho do Arquivo"), 543, 180);

    StaticText3 = new QLabel(ClientArea);
    StaticText3->setObjectName(QStringLiteral("StaticText3"));
    StaticText3->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StaticText3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    StaticText3->setFont(sansSerif(24, true));
    StaticText3->setToolTip(QStringLiteral("Mostra o valor do tamanho do arquivo"));
    StaticText3->setAutoFillBackground(true);
    QPalette menuColoured = StaticText3->palette();
    menuColoured.setColor(QPalette::Window, QApplication::palette("QMenu").color(QPalette::Window));
    StaticText3->setPalette(menuColoured);
    StaticText3->setGeometry(544, 204, 161, 33);
}

// The four buttons and the link LEDs with their labels.
void TForm1::createButtonsAndLeds() {
    BitBtn3 = bitBtn(ClientArea, "BitBtn3", QStringLiteral("&Enviar"),
                     QIcon(QStringLiteral(":/pictures/send.png")), {352, 256, 105, 57}, 26,
                     GlyphPlace::Above);
    BitBtn3->setToolTip(QStringLiteral("Envia dados para a impressora"));
    BitBtn2 = bitBtn(ClientArea, "BitBtn2", QStringLiteral("Status"),
                     QIcon(QStringLiteral(":/pictures/status.png")), {464, 256, 81, 57}, 26,
                     GlyphPlace::Above);
    BitBtn2->setToolTip(QStringLiteral("Le status dos sensores"));
    BitBtn4 = bitBtn(ClientArea, "BitBtn4", QStringLiteral("Reset"),
                     QIcon(QStringLiteral(":/pictures/reset.png")), {552, 256, 75, 57}, 26,
                     GlyphPlace::Above);
    BitBtn1 = bitBtn(ClientArea, "BitBtn1", QStringLiteral("&Sair"),
                     QIcon(QStringLiteral(":/pictures/exit.png")), {632, 256, 73, 57}, 26,
                     GlyphPlace::Above);
    BitBtn1->setToolTip(QStringLiteral("Encerra o Programa"));

    const QFont labelFont = sansSerif(11, true);
    ComLed1 = comLed(ClientArea, "ComLed1", lkGreenLight, 392, 328);
    ComLed1->SetLedSignal(lsCTS);
    Label1 = staticText(ClientArea, "Label1", QStringLiteral("CTS"), 416, 334);
    ComLed2 = comLed(ClientArea, "ComLed2", lkYellowLight, 488, 328);
    ComLed2->SetLedSignal(lsTx);
    Label2 = staticText(ClientArea, "Label2", QStringLiteral("TX"), 512, 334);
    ComLed3 = comLed(ClientArea, "ComLed3", lkGreenLight, 392, 328);
    ComLed3->hide();
    ComLed4 = comLed(ClientArea, "ComLed4", lkYellowLight, 488, 328);
    ComLed4->hide();
    ComLed5 = comLed(ClientArea, "ComLed5", lkYellowLight, 584, 328);
    ComLed5->hide();
    Label3 = staticText(ClientArea, "Label3", QStringLiteral("Erro"), 610, 334);
    Label3->hide();
    for (QLabel* label : {Label1, Label2, Label3}) {
        label->setFont(labelFont);
        label->adjustSize();
    }
}

void TForm1::createMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    auto submenu = [this](const char* name, const QString& caption) {
        QMenu* menu = MainMenu1->addMenu(caption);
        menu->setObjectName(QLatin1String(name));
        menu->setToolTipsVisible(true);
        return menu;
    };

    Arquivo1 = submenu("Arquivo1", QStringLiteral("&Arquivo"));
    Abrir1 = menuItem(Arquivo1, "Abrir1", QStringLiteral("&Abrir"));
    Sair1 = menuItem(Arquivo1, "Sair1", QStringLiteral("&Sair"));
    Sair1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));

    Programar1 = submenu("Programar1", QStringLiteral("&Programar"));
    createProgramarMenu();

    Sobre1 = submenu("Sobre1", QStringLiteral("&Sobre"));
    Autor1 = menuItem(Sobre1, "Autor1", QStringLiteral("&Programa"));
    Impressora1 = menuItem(Sobre1, "Impressora1", QStringLiteral("&Impressora"));
    Firmware1 = menuItem(Sobre1, "Firmware1", QStringLiteral("&Firmware"));

    auto* sendKey =
        new MenuKeyFirst(this, QKeySequence(Qt::ALT | Qt::Key_E), [this] { Enviar1->trigger(); });
    sendKey->watch(Enviar1);
    sendKey->watch(BitBtn3);
    auto* aboutKey = new MenuKeyFirst(this, QKeySequence(Qt::ALT | Qt::Key_S),
                                      [this] { MainMenu1->setActiveAction(Sobre1->menuAction()); });
    aboutKey->watch(BitBtn1);
}

// "&Programar": the file send, the connections, the settings and commands.
void TForm1::createProgramarMenu() {
    const auto item = [this](const char* name, const QString& caption) {
        return menuItem(Programar1, name, caption);
    };
    Enviar1 = item("Enviar1", QStringLiteral("&Enviar"));
    Enviar1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_E));
    Enviar1->setToolTip(QStringLiteral("Envia o conteúdo do buffer para o dispositivo"));
    Enviar1->setStatusTip(Enviar1->toolTip());
    Paralela1 = item("Paralela1", QStringLiteral("&Paralela"));
    Serial1 = item("Serial1", QStringLiteral("&Serial"));
    Serial1->setToolTip(QStringLiteral("Programa a porta serial"));
    Serial1->setStatusTip(Serial1->toolTip());
    ProgramaImpresso1 = item("ProgramaImpresso1", QStringLiteral("Programa &Impressão"));
    Autenticao1 = item("Autenticao1", QStringLiteral("Sinalização do &RTS"));
    Autenticao2 = item("Autenticao2", QStringLiteral("&Autenticação"));
    Gaveta1 = item("Gaveta1", QStringLiteral("&Gaveta"));
    Reset1 = item("Reset1", QStringLiteral("Reset"));
    Pagina1 = item("Pagina1", QStringLiteral("Pagina"));
    ProgramarBitmap1 = item("ProgramarBitmap1", QStringLiteral("Programar &Bitmap"));
    ImprimeBitmap1 = item("ImprimeBitmap1", QStringLiteral("Imprime Bitmap"));
    N4048Caracteres1 = item("N4048Caracteres1", QStringLiteral("&Caracteres p/ Linha"));
    SensorPapel1 = item("SensorPapel1", QStringLiteral("Sensor Papel"));
    AvancodeLinhas1 = item("AvancodeLinhas1", QStringLiteral("Avanco de Linhas"));
    Teclado1 = item("Teclado1", QStringLiteral("Teclado"));
    N1 = item("N1", QStringLiteral("Modo Dump"));
    Programar1->addSeparator();
    ImpressoraVirtual1 = item("ImpressoraVirtual1", QStringLiteral("Impressora virtual"));
    ImpressoraVirtual1->setVisible(false);
    PortasdoSistema1 = item("PortasdoSistema1", QStringLiteral("Portas do sistema"));
    PortasdoSistema1->setToolTip(QStringLiteral("Escolhe o dispositivo de cada porta COM e LPT"));
    PortasdoSistema1->setStatusTip(PortasdoSistema1->toolTip());
}
