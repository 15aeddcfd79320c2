#include "app/Form1.h"

#include "app/ClickableImage.h"
#include "app/FileSend.h"
#include "app/Form2.h"
#include "app/Form4.h"
#include "app/Form5.h"
#include "app/Forms.h"
#include "app/LoadedFile.h"
#include "app/ProgramEnd.h"
#include "bitmap/DotGrids.h"
#include "bitmap/Form10.h"
#include "bitmap/Form13.h"
#include "commands/Form11.h"
#include "commands/Form12.h"
#include "commands/Form14.h"
#include "commands/Form15.h"
#include "commands/Form16.h"
#include "commands/Form6.h"
#include "commands/Form7.h"
#include "commands/Form8.h"
#include "commands/QueryProcedure.h"
#include "commands/SendProcedure.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "connection/PortsWindow.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "protocol/CommandBuilders.h"
#include "windowkit/FormBase.h"
#include "windowkit/Handlers.h"
#include "windowkit/Messages.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Runs a query and shows its answer, or readError when the reply came short;
// the query itself refuses when the serial port is not connected.
void showQueryAnswer(Commands::Query query, const QString& readError) {
    Commands::QueryResult result;
    {
        // The read may hold the program for its whole time-out.
        const WaitCursor wait(LinkState.SerialConnected);
        result = Commands::runQuery(query, QStringLiteral(" A porta serial não está selecionada - "
                                                          "Este comando não está disponível na "
                                                          "Paralela"));
    }
    switch (result.outcome) {
    case Commands::QueryResult::Outcome::NotSerial:
    case Commands::QueryResult::Outcome::Lost:
        break;
    case Commands::QueryResult::Outcome::ReadFailed:
        Messages::plainMessage(readError);
        break;
    case Commands::QueryResult::Outcome::Answered:
        Messages::plainMessage(result.shownText());
        break;
    }
}

} // namespace

TForm1::TForm1() {
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Tellumo"));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.png")));
    applyLook();
    createControls();
    createMenu();
    wireHandlers();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    centreOnScreen(this);
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::wireHandlers() {
    connect(Abrir1, &QAction::triggered, this, handler(this, &TForm1::Abrir1Click));
    connect(Sair1, &QAction::triggered, this, handler(this, &TForm1::Sair1Click));
    connect(Enviar1, &QAction::triggered, this, handler(this, &TForm1::Enviar1Click));
    connect(Paralela1, &QAction::triggered, this, handler(this, &TForm1::Paralela1Click));
    connect(Serial1, &QAction::triggered, this, handler(this, &TForm1::Serial1Click));
    connect(ProgramaImpresso1, &QAction::triggered, this,
            handler(this, &TForm1::ProgramaImpresso1Click));
    connect(Autenticao1, &QAction::triggered, this, handler(this, &TForm1::Autenticao1Click));
    connect(Autenticao2, &QAction::triggered, this, handler(this, &TForm1::Autenticao2Click));
    connect(Pagina1, &QAction::triggered, this, handler(this, &TForm1::Pagina1Click));
    connect(ProgramarBitmap1, &QAction::triggered, this,
            handler(this, &TForm1::ProgramarBitmap1Click));
    connect(ImprimeBitmap1, &QAction::triggered, this, handler(this, &TForm1::ImprimeBitmap1Click));
    connect(N4048Caracteres1, &QAction::triggered, this,
            handler(this, &TForm1::N4048Caracteres1Click));
    connect(SensorPapel1, &QAction::triggered, this, handler(this, &TForm1::SensorPapel1Click));
    connect(AvancodeLinhas1, &QAction::triggered, this,
            handler(this, &TForm1::AvancodeLinhas1Click));
    connect(Teclado1, &QAction::triggered, this, handler(this, &TForm1::Teclado1Click));
    connect(Autor1, &QAction::triggered, this, handler(this, &TForm1::Autor1Click));
    connect(Reset1, &QAction::triggered, this, handler(this, &TForm1::Reset1Click));
    connect(BitBtn4, &QPushButton::clicked, this, handler(this, &TForm1::BitBtn4Click));
    connect(Gaveta1, &QAction::triggered, this, handler(this, &TForm1::Gaveta1Click));
    connect(N1, &QAction::triggered, this, handler(this, &TForm1::N1Click));
    connect(Impressora1, &QAction::triggered, this, handler(this, &TForm1::Impressora1Click));
    connect(Firmware1, &QAction::triggered, this, handler(this, &TForm1::Firmware1Click));
    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm1::BitBtn1Click));
    connect(BitBtn2, &QPushButton::clicked, this, handler(this, &TForm1::BitBtn2Click));
    connect(BitBtn3, &QPushButton::clicked, this, handler(this, &TForm1::BitBtn3Click));
    connect(Image1, &ClickableImage::clicked, this, handler(this, &TForm1::Image1Click));
    connect(Image1, &ClickableImage::doubleClicked, this, handler(this, &TForm1::Image1DblClick));
    connect(Timer1, &QTimer::timeout, this, handler(&Timer1Timer));
    connect(ImpressoraVirtual1, &QAction::triggered, this,
            handler(this, &TForm1::ImpressoraVirtual1Click));
    connect(PortasdoSistema1, &QAction::triggered, this,
            handler(this, &TForm1::PortasdoSistema1Click));
}

void TForm1::FormCreate() {
    std::memset(UserCharColumns, 0, sizeof UserCharColumns);
}

void TForm1::Abrir1Click() {
    Form4->showForm();
    setEnabled(false);
}

void TForm1::Sair1Click() {
    ProgramEnd::requestQuit();
}

void TForm1::Paralela1Click() {
    Form9->showForm();
}
void TForm1::Serial1Click() {
    Form3->showForm();
}
void TForm1::ProgramaImpresso1Click() {
    Form6->showForm();
}
void TForm1::Autenticao1Click() {
    Form7->showForm();
}
void TForm1::Autenticao2Click() {
    Form8->showForm();
}
void TForm1::Pagina1Click() {
    Form11->showForm();
}
void TForm1::ProgramarBitmap1Click() {
    Form10->showForm();
}
void TForm1::ImprimeBitmap1Click() {
    Form13->showForm();
}
void TForm1::N4048Caracteres1Click() {
    Form12->showForm();
}
void TForm1::SensorPapel1Click() {
    Form14->showForm();
}
void TForm1::AvancodeLinhas1Click() {
    Form15->showForm();
}
void TForm1::Teclado1Click() {
    Form16->showForm();
}
void TForm1::Autor1Click() {
    Form2->showForm();
}

// The direct commands tell the operator nothing on success.
void TForm1::Reset1Click() {
    Commands::sendCommand(Commands::Command::ResetFromMenu, Commands::resetCommand());
}
void TForm1::BitBtn4Click() {
    Commands::sendCommand(Commands::Command::ResetFromButton, Commands::resetCommand());
}
void TForm1::Gaveta1Click() {
    Commands::sendCommand(Commands::Command::Drawer,
                          Commands::drawerCommand(LinkState.CompatibleMode));
}
void TForm1::N1Click() {
    Commands::sendCommand(Commands::Command::DumpMode, Commands::dumpModeCommand());
}

// A close-kind button: closing the main window ends the program.
void TForm1::BitBtn1Click() {
    close();
}

void TForm1::BitBtn2Click() {
    showQueryAnswer(Commands::Query::Status, QStringLiteral(" Erro na Leitura do Status"));
}
void TForm1::BitBtn3Click() {
    runSendCommand(QStringLiteral("Selecione Uma interface de comunicação (Serial ou Paralela)"));
}
void TForm1::Enviar1Click() {
    runSendCommand(QStringLiteral("Selecione Uma interface de comunicação( Serial ou Paralela)"));
}

// The send button's caption tells a new send from a cancel request: while a
// send runs, the button and the menu item reach here from inside its loop.
void TForm1::runSendCommand(const QString& noInterfaceText) {
    const QString cancel = QStringLiteral("Cancelar");
    if (BitBtn3->text() == cancel) {
        LinkState.CancelRequested = true;
        return;
    }
    if (!PrinterReadyToSend(noInterfaceText))
        return;
    ProgramEnd::SendScope running;
    BitBtn3->setText(cancel);
    // However the send ends, a failing serial write included, the next one
    // can start.
    const auto idle = qScopeGuard([this] {
        BitBtn3->setText(QStringLiteral("&Enviar"));
        LinkState.CancelRequested = false;
    });
    SendLoadedFile();
}

void TForm1::Impressora1Click() {
    showQueryAnswer(Commands::Query::Model,
                    QStringLiteral(" Erro na Leitura do modelo da impressora"));
}
void TForm1::Firmware1Click() {
    showQueryAnswer(Commands::Query::Firmware,
                    QStringLiteral(" Erro na Leitura do modelo da impressora"));
}

void TForm1::Image1Click() {
    Form5->showForm();
}
void TForm1::Image1DblClick() {
    Form5->hide();
}

void TForm1::ImpressoraVirtual1Click() {
    if (showVirtualPrinter_)
        showVirtualPrinter_();
}

void TForm1::PortasdoSistema1Click() {
    PortsWindow->showForm();
}

void TForm1::connectDialogs() {
    connect(Form2, &TForm2::closed, this, [this] { setEnabled(true); });
    connect(Form4, &TForm4::cancelled, this, [this] { setEnabled(true); });
    connect(Form4, &TForm4::opening, this, [this] {
        setEnabled(true);
        RichEdit1->clear();
    });
    connect(Form4, &TForm4::fileLoaded, this, [this](const QString& name) {
        showWindow(this);
        showLoadedFile(name);
    });
}

void TForm1::showLoadedFile(const QString& name) {
    const int64_t size = LoadedFile.FileSize;
    const int stored = int(std::min<int64_t>(size, FileBufferCapacity));
    // The bar's range is the file's length; an empty file shows an empty bar
    // (an empty range would make the toolkit show a busy indicator instead).
    ProgressBar1->setRange(0, int(std::clamp<int64_t>(size, 1, INT_MAX)));
    const QByteArrayView head(reinterpret_cast<const char*>(LoadedFile.FileBuffer.data()), stored);
    RichEdit1->setPlainText(displayLines(head, size).join(u'\n'));
    ProgressBar1->setValue(stored);
    StaticText3->setText(QString::number(size));
    StaticText7->setText(name);
}

void TForm1::attachVirtualPrinter(std::function<void()> show) {
    showVirtualPrinter_ = std::move(show);
    ImpressoraVirtual1->setVisible(true);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // The window stays until the program really ends: while a file send runs
    // the request only waits, and the operator keeps the send's controls.
    event->ignore();
    ProgramEnd::requestQuit();
}
