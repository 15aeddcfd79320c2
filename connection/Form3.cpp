#include "connection/Form3.h"

#include "commands/QueryProcedure.h"
#include "connection/MainWindowParts.h"
#include "connection/OpenFailure.h"
#include "connection/PortsWindow.h"
#include "connection/PrinterLineSettings.h"
#include "connection/SerialReconnect.h"
#include "link/LinkState.h"
#include "link/comport/ComLed.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/comport/lines/network/NetworkAddress.h"
#include "windowkit/Handlers.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QAction>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

namespace {

// The model name of the 40/48-column printer, as the model reply carries it.
const QByteArray CompatibleModelName = QByteArrayLiteral("Korvex BM  40/48");

const TBaudRate BaudRates[] = {br1200, br2400, br4800, br9600, br19200};
const TStopBits StopBitSettings[] = {sbOneStopBit, sbOne5StopBits, sbTwoStopBits};
const TParityBits ParitySettings[] = {prNone, prEven, prOdd};

const QStringList PortItems{"COM1", "COM2", "COM3", "COM4"};
const QStringList BaudItems{"1200", "2400", "4800", "9600", "19200"};
const QStringList StopBitItems{"1", "1.5", "2"};
const QStringList ParityItems{"Nenhuma", "Par", "Impar"};

} // namespace

TForm3::TForm3()
    : TFormBase(QStringLiteral("Configuração da Serial"), {457, 425}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form3"));

    ComPort1 = new TComPort(this);
    ComPort1->setObjectName(QStringLiteral("ComPort1"));
    ComPort1->SetPort(QStringLiteral("COM1"));
    applyPrinterLineSettings(*ComPort1);

    deviceReturn_ = new TDeviceReturn(this);
    createControls();
    wireHandlers();
}

// The port is closed here, while the window its handlers report to is whole.
TForm3::~TForm3() {
    delete ComPort1;
}

void TForm3::createControls() {
    RadioGroup2 = radioGroup(this, "RadioGroup2", QStringLiteral("Porta Serial"), PortItems,
                             {16, 12, 201, 137}, 1);
    showDevicesAsHints(RadioGroup2);
    RadioGroup1 = radioGroup(this, "RadioGroup1", QStringLiteral("Baud Rate"), BaudItems,
                             {240, 12, 201, 161}, 3);
    RadioGroup1->setEnabled(false);
    RadioGroup3 = radioGroup(this, "RadioGroup3", QStringLiteral("Stop Bits"), StopBitItems,
                             {16, 188, 201, 113}, 0);
    RadioGroup3->setEnabled(false);
    RadioGroup4 = radioGroup(this, "RadioGroup4", QStringLiteral("Paridade"), ParityItems,
                             {240, 188, 201, 113}, 0);
    RadioGroup4->setEnabled(false);

    BitBtn2 = bitBtn(this, "BitBtn2", QStringLiteral("&Conectar"),
                     QIcon(QStringLiteral(":/pictures/connect.png")), {16, 330, 201, 41});
    BitBtn1 = bitBtn(this, "BitBtn1", QStringLiteral("&Fechar"),
                     QIcon(QStringLiteral(":/pictures/close.png")), {240, 330, 201, 41});
    setCancelButton(BitBtn1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, 425 - 22, 457, 22);
    const std::pair<const char*, int> panels[] = {{"Porta:", 70},
                                                  {"Baud Rate:", 95},
                                                  {"Stop Bits:", 70},
                                                  {"Paridade:", 100},
                                                  {"Status:", 50}};
    for (int i = 0; i < 5; ++i) {
        auto* panel = new QLabel(QString::fromUtf8(panels[i].first), StatusBar1);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setMinimumWidth(panels[i].second);
        // The last panel takes what the others leave, so "Status: Inativa" fits.
        if (i < 4)
            panel->setFixedWidth(panels[i].second);
        StatusBar1->addWidget(panel, i < 4 ? 0 : 1);
        Panels[i] = panel;
    }
}

void TForm3::wireHandlers() {
    connect(BitBtn2, &QPushButton::clicked, this, handler(this, &TForm3::BitBtn2Click));
    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm3::BitBtn1Click));
    ComPort1->OnRxChar = [this](TCustomComPort* s, int count) { ComPort1RxChar(s, count); };
    ComPort1->OnTxEmpty = [this](TCustomComPort* s) { ComPort1TxEmpty(s); };
    ComPort1->OnError = [this](TCustomComPort* s, TComErrors errors) { ComPort1Error(s, errors); };
    ComPort1->OnCTSChange = [this](TCustomComPort* s, bool on) { ComPort1CTSChange(s, on); };
    connect(deviceReturn_, &TDeviceReturn::present, this, handler(this, &TForm3::reconnect));
}

void TForm3::applySelections() {
    const int port = RadioGroup2->ItemIndex();
    const int baud = RadioGroup1->ItemIndex();
    const int stopBits = RadioGroup3->ItemIndex();
    const int parity = RadioGroup4->ItemIndex();
    if (port >= 0) {
        Panels[0]->setText(QStringLiteral("Porta:") + PortItems[port]);
        ComPort1->SetPort(PortItems[port]);
    }
    if (baud >= 0) {
        Panels[1]->setText(QStringLiteral("Baud Rate:") + BaudItems[baud]);
        ComPort1->SetBaudRate(BaudRates[baud]);
    }
    if (stopBits >= 0) {
        Panels[2]->setText(QStringLiteral("Stop Bits:") + StopBitItems[stopBits]);
        ComPort1->SetStopBits(StopBitSettings[stopBits]);
    }
    if (parity >= 0) {
        Panels[3]->setText(QStringLiteral("Paridade:") + ParityItems[parity]);
        ComPort1->Parity().SetBits(ParitySettings[parity]);
    }
}

void TForm3::showDisconnected() {
    Panels[4]->setText(QStringLiteral("Status: Inativa"));
    Panels[4]->setToolTip({});
    MainWindow.Paralela1->setEnabled(true);
    BitBtn2->setText(QStringLiteral("&Conectar"));
    RadioGroup2->setEnabled(true);
}

// A lost network line while its server is tried again. The panel has room
// for a word; its hint says the rest.
void TForm3::showWaitingForServer() {
    Panels[4]->setText(QStringLiteral("Status: Esperando"));
    Panels[4]->setToolTip(QStringLiteral("Esperando o servidor: o Tellumo conecta de novo "
                                         "sozinho quando ele responder"));
}

void TForm3::disconnectPort() {
    showDisconnected();
    LinkState.SerialConnected = false;
    ComPort1->Close();
}

void TForm3::BitBtn2Click() {
    // The operator's own choice ends any wait for a lost device.
    deviceReturn_->stop();
    applySelections();
    // "Desconectar" while a network port is still being reached cancels it.
    if (ComPort1->Connected() || ComPort1->Opening())
        disconnectPort();
    else
        connectPort(true);
    modelProbe();
}

bool TForm3::connectPort(bool tellFailure) {
    Panels[4]->setText(QStringLiteral("Status: Ativa"));
    Panels[4]->setToolTip({});
    MainWindow.Paralela1->setEnabled(false);
    BitBtn2->setText(QStringLiteral("&Desconectar"));
    RadioGroup2->setEnabled(false);
    LinkState.SerialConnected = true;
    try {
        {
            // A network port takes up to 5 s to reach; the window stays live.
            const WaitCursor wait;
            ComPort1->Open();
        }
        // "Desconectar" meanwhile left it closed.
        return ComPort1->Connected();
    } catch (const EComPort&) {
        // A port that failed half-way through opening is closed again; a
        // failure to close it adds nothing to what the operator is told.
        try {
            ComPort1->Close();
        } catch (const EComPort&) {
        }
        showDisconnected();
        LinkState.SerialConnected = false;
        if (tellFailure)
            Messages::warningBox(OpenFailure::serialBoxText(
                OpenFailure::serialCause(PortMap::device(ComPort1->Port()))));
        return false;
    }
}

// The lost device is there again. A port the operator has moved away from,
// or an interface connected meanwhile, ends the wait; a device not ready
// yet is tried again when it is next seen.
void TForm3::reconnect() {
    const int port = RadioGroup2->ItemIndex();
    if (ComPort1->Opening())
        return;
    if (ComPort1->Connected() || LinkState.ParallelConnected || port != lostPort_ ||
        PortMap::device(PortItems[port]) != deviceReturn_->path()) {
        deviceReturn_->stop();
        if (!ComPort1->Connected())
            showDisconnected();
        return;
    }
    applySelections();
    if (!connectPort(false)) {
        if (deviceReturn_->waitsForServer())
            showWaitingForServer();
        return;
    }
    // Lost again while it was being opened: that loss has already decided
    // what comes next.
    if (!ComPort1->Connected())
        return;
    deviceReturn_->connected();
    modelProbe();
}

// Tells the two printer models apart, so the commands with two variants use
// the one this printer takes.
void TForm3::modelProbe() {
    if (LinkState.SerialConnected && LinkState.CtsActive) {
        // A short or missing reply leaves the mode as it was, without a word.
        const WaitCursor wait;
        if (const std::optional<QByteArray> model = Commands::exchangeQuery(Commands::Query::Model))
            LinkState.CompatibleMode = *model == CompatibleModelName;
    } else if (LinkState.SerialConnected) {
        LinkState.CompatibleMode = false;
        Messages::plainMessage(
            QStringLiteral("A impressora não está conectada.Utilizando Impressora PADRAO"));
    }
}

void TForm3::BitBtn1Click() {
    MainWindow.Form1->setEnabled(true);
    hide();
}

// Received bytes stay queued for the next Read.
void TForm3::ComPort1RxChar(TCustomComPort*, int) {}

void TForm3::ComPort1TxEmpty(TCustomComPort*) {
    LinkState.TxPending = false;
}

void TForm3::ComPort1Error(TCustomComPort*, TComErrors Errors) {
    LinkState.TxPending = false;
    // A line that hangs up says so once, with this error. The connection
    // ends once the port has finished handing over its events.
    if (Errors.Contains(ceIO))
        QTimer::singleShot(0, this, handler([this] { LineLost(); }));
}

// Reached first either by this event or by a write or read that failed on
// the lost line; the second finds the connection already ended.
void TForm3::LineLost() {
    if (!LinkState.SerialConnected || !ComPort1->Connected())
        return;
    // The device is gone: a port that fails to close has nothing more to say.
    // Closing it now lets the device come back under its own name.
    try {
        disconnectPort();
    } catch (const EComPort&) {
    }
    const QString device = PortMap::device(ComPort1->Port());
    const bool network = NetworkAddress::isUrl(device);
    const bool comesBack =
        SerialReconnect::enabled() && (network || device.startsWith(QLatin1Char('/')));
    // A server that accepts and closes again at once is one outage: one box.
    bool newOutage = true;
    if (comesBack) {
        lostPort_ = RadioGroup2->ItemIndex();
        newOutage = deviceReturn_->watch(device);
    }
    if (network && comesBack)
        showWaitingForServer();
    if (!newOutage)
        return;
    if (network) {
        const QString lost = QStringLiteral("A conexão com a porta serial %1 (%2) foi perdida - "
                                            "verifique a rede e o servidor")
                                 .arg(ComPort1->Port(), device);
        // A server the line dropped for misbehaving is named below.
        const QString why = OpenFailure::droppedServer(device);
        Messages::warningBox(
            (comesBack ? lost + QStringLiteral(": o Tellumo conecta de novo "
                                               "sozinho quando ele responder")
                       : lost + QStringLiteral(" e conecte novamente")) +
            (why.isEmpty() ? QString() : QStringLiteral("\n%1: %2").arg(device, why)));
        return;
    }
    const QString lost = QStringLiteral("A conexão com a porta serial %1 foi perdida - verifique o "
                                        "cabo ou o adaptador")
                             .arg(ComPort1->Port());
    Messages::warningBox(comesBack ? lost + QStringLiteral(": a conexão volta sozinha quando ele "
                                                           "for ligado de novo")
                                   : lost + QStringLiteral(" e conecte novamente"));
}

// The port has set ComLed1 to the line's new state just before this runs.
void TForm3::ComPort1CTSChange(TCustomComPort*, bool) {
    if (MainWindow.ComLed1 && MainWindow.ComLed1->State() == lsOn) {
        LinkState.CtsActive = true;
    } else {
        LinkState.CtsActive = false;
        LinkState.TxPending = false;
    }
}
