#include "connection/Form9.h"

#include "connection/MainWindowParts.h"
#include "connection/OpenFailure.h"
#include "connection/PortsWindow.h"
#include "link/LinkState.h"
#include "link/comport/ComLed.h"
#include "link/portio/LptMap.h"
#include "link/portio/PortIO.h"
#include "windowkit/Handlers.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

// The parallel port's control register: bit 0 drives the strobe line
// (inverted by the port, so 0 releases it).
constexpr uint16_t ControlOffset = 2;
constexpr uint8_t StrobeBit = 0x01;

} // namespace

TForm9::TForm9()
    : TFormBase(QStringLiteral("Configuração Paralela"), {249, 188}, CaptionButtons::None) {
    setObjectName(QStringLiteral("Form9"));
    createControls();
    wireHandlers();
}

void TForm9::createControls() {
    RadioGroup1 = radioGroup(this, "RadioGroup1", QStringLiteral("Seleciona Paralela"),
                             {"LPT1", "LPT2"}, {12, 12, 113, 89});
    showDevicesAsHints(RadioGroup1);
    CheckBox1 =
        checkBox(this, "CheckBox1", QStringLiteral("Verifica Busy"), {138, 30, 105, 21}, true);
    CheckBox2 = checkBox(this, "CheckBox2", QStringLiteral("Compatível"), {138, 62, 105, 21});
    // The first caption has no accelerator; every later one has.
    BitBtn1 = bitBtn(this, "BitBtn1", QStringLiteral("Conectar"),
                     QIcon(QStringLiteral(":/pictures/connect.png")), {12, 128, 113, 41});
    BitBtn2 = bitBtn(this, "BitBtn2", QStringLiteral("&Fechar"),
                     QIcon(QStringLiteral(":/pictures/close.png")), {136, 128, 101, 41});
    setCancelButton(BitBtn2);
}

void TForm9::wireHandlers() {
    connect(BitBtn1, &QPushButton::clicked, this, handler(this, &TForm9::BitBtn1Click));
    connect(BitBtn2, &QPushButton::clicked, this, handler(this, &TForm9::BitBtn2Click));
    // Queued: the loss is found inside a port access, in the middle of a
    // byte, a status poll or a send; the connection ends once that is over.
    if (MainWindow.PortIO1)
        connect(MainWindow.PortIO1, &TPortIO::deviceLost, this, handler(this, &TForm9::PortLost),
                Qt::QueuedConnection);
}

QString TForm9::portName() const {
    return QLatin1String(RadioGroup1->ItemIndex() == 0 ? "LPT1" : "LPT2");
}

void TForm9::BitBtn1Click() {
    TPortIO& portIO = *MainWindow.PortIO1;
    // Where the Windows port driver would be looked for; kept so the
    // component knows the program's folder, though ppdev needs no file.
    portIO.DriverPath = QCoreApplication::applicationDirPath();

    if (LinkState.ParallelConnected) {
        disconnectPort(portIO);
        return;
    }

    const uint16_t base = RadioGroup1->ItemIndex() == 0 ? TPortIO::Lpt1Base : TPortIO::Lpt2Base;
    // Only the port picked is claimed: the other stays free for other programs.
    portIO.BasePort = base;
    portIO.OpenDriver();
    if (!portIO.ActiveHW()) {
        Messages::warningBox(
            OpenFailure::parallelBoxText(OpenFailure::parallelCause(LptMap::device(portName()))));
        return;
    }
    LinkState.LptBasePort = base;

    MainWindow.Serial1->setEnabled(false);
    MainWindow.ComLed1->hide();
    MainWindow.ComLed2->hide();
    MainWindow.ComLed3->show();
    MainWindow.ComLed4->show();
    MainWindow.ComLed5->show();
    MainWindow.Label3->show();
    MainWindow.Label1->setText(QStringLiteral("BUSY"));
    MainWindow.Label1->adjustSize();
    MainWindow.Timer1->start();

    LinkState.ParallelConnected = true;

    const uint16_t control = LinkState.LptBasePort + ControlOffset;
    portIO.SetPortByte(control, static_cast<uint8_t>(portIO.GetPortByte(control) & ~StrobeBit));

    BitBtn1->setText(QStringLiteral("&Desconectar"));
    RadioGroup1->setEnabled(false);

    LinkState.CompatibleMode = CheckBox2->isChecked();
}

// Back to the serial set of LEDs, the timer stopped, the driver released.
void TForm9::disconnectPort(TPortIO& portIO) {
    MainWindow.Serial1->setEnabled(true);
    MainWindow.ComLed1->show();
    MainWindow.ComLed2->show();
    MainWindow.ComLed3->hide();
    MainWindow.ComLed4->hide();
    MainWindow.ComLed5->hide();

    MainWindow.Timer1->stop();
    LinkState.FaultBlinkPhase = false;
    MainWindow.Label3->hide();
    MainWindow.ComLed5->SetState(lsOff);
    MainWindow.Label1->setText(QStringLiteral("CTS"));
    MainWindow.Label1->adjustSize();

    LinkState.ParallelConnected = false;
    BitBtn1->setText(QStringLiteral("&Conectar"));
    RadioGroup1->setEnabled(true);

    portIO.CloseDriver();

    LinkState.CompatibleMode = false;
    CheckBox2->setChecked(false);
}

void TForm9::BitBtn2Click() {
    hide();
}

// Reached after the access that found the device gone; by then the operator
// may have disconnected already.
void TForm9::PortLost() {
    TPortIO& portIO = *MainWindow.PortIO1;
    if (!LinkState.ParallelConnected || !portIO.Lost())
        return;
    disconnectPort(portIO);
    Messages::warningBox(QStringLiteral("A conexão com a porta paralela %1 foi perdida - "
                                        "verifique o cabo ou o adaptador e conecte novamente")
                             .arg(portName()));
}
