#include "connection/PortsWindow.h"

#include "connection/PortChoices.h"
#include "connection/SerialReconnect.h"
#include "connection/SystemPorts.h"
#include "link/comport/PortMap.h"
#include "link/comport/lines/network/NetworkAddress.h"
#include "windowkit/Handlers.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <optional>

namespace {

const QString VirtualPrinterText = QStringLiteral("Impressora virtual");

QString virtualDevice() {
    return QString::fromLatin1(PortMap::VirtualDevice);
}

QString shownText(const QString& device) {
    return device == virtualDevice() ? VirtualPrinterText : device;
}

// A network line, for a COM port only, in one of its two forms.
std::optional<QString> chosenAddress(const QString& port, const QString& url, QString* error) {
    if (PortChoices::isParallel(port))
        *error = QStringLiteral("\"%1\": uma porta paralela não vai pela rede, escolha um "
                                "dispositivo da lista.")
                     .arg(url);
    else if (!NetworkAddress::parse(url))
        *error = QStringLiteral("\"%1\" não é um endereço de rede válido: escreva "
                                "tcp://HOST:PORTA para a porta de rede da impressora (em geral "
                                "9100) ou rfc2217://HOST:PORTA para um servidor de porta serial.")
                     .arg(url);
    else
        return url;
    return std::nullopt;
}

// What the operator chose, or nothing with *error set; empty means the default.
std::optional<QString> chosenDevice(const QString& port, const QString& text, QString* error) {
    const QString device = text.trimmed();
    if (NetworkAddress::isUrl(device))
        return chosenAddress(port, device, error);
    if (device.isEmpty() || device.startsWith(QLatin1Char('/')))
        return device;
    if (device == VirtualPrinterText || device == virtualDevice())
        return virtualDevice();
    *error = QStringLiteral("\"%1\" não é um dispositivo: escolha um da lista, digite o caminho "
                            "completo (por exemplo /dev/ttyUSB0 ou /dev/pts/3) ou escolha \"%2\".")
                 .arg(device, VirtualPrinterText);
    return std::nullopt;
}

// Keeps each port item's hint on the device its name leads to now: the
// mapping may change while the dialog is open.
class DeviceHints : public QObject {
public:
    using QObject::QObject;

    static void refresh(QAbstractButton* item) {
        const QString port = item->text().remove(QLatin1Char('&'));
        item->setToolTip(deviceHint(PortChoices::currentDevice(port)));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTip)
            refresh(static_cast<QAbstractButton*>(watched));
        return false;
    }
};

} // namespace

QString deviceHint(const QString& device) {
    if (device == virtualDevice())
        return VirtualPrinterText;
    const QFileInfo info(device);
    if (info.isSymLink())
        return QStringLiteral("%1 → %2").arg(device, info.canonicalFilePath());
    return device;
}

void showDevicesAsHints(TRadioGroup* ports) {
    auto* hints = new DeviceHints(ports);
    for (QAbstractButton* item : ports->findChildren<QAbstractButton*>()) {
        DeviceHints::refresh(item);
        item->installEventFilter(hints);
    }
}

TPortsWindow::TPortsWindow(const QString& root)
    : TFormBase(QStringLiteral("Portas do sistema"), {760, 480}, CaptionButtons::SystemMenu),
      root_(root) {
    setObjectName(QStringLiteral("PortsWindow"));
    createControls();
    connect(RescanButton, &QPushButton::clicked, this, handler(this, &TPortsWindow::rescan));
    connect(OkButton, &QPushButton::clicked, this, handler(this, &TPortsWindow::OkButtonClick));
    connect(CancelButton, &QPushButton::clicked, this, &QWidget::hide);
}

void TPortsWindow::createControls() {
    DeviceList = new QTreeWidget(this);
    DeviceList->setObjectName(QStringLiteral("DeviceList"));
    DeviceList->setHeaderLabels(
        {QStringLiteral("Dispositivo"), QStringLiteral("Driver"), QStringLiteral("Descrição")});
    DeviceList->setRootIsDecorated(false);
    DeviceList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* ports = new QGroupBox(QStringLiteral("Portas da impressora"), this);
    auto* grid = new QGridLayout(ports);
    int row = 0;
    for (const QString& port : PortChoices::portNames()) {
        auto* choice = new QComboBox(ports);
        choice->setObjectName(port);
        choice->setEditable(true);
        choice->setInsertPolicy(QComboBox::NoInsert);
        choice->setMinimumWidth(420);
        auto* note = new QLabel(ports);
        note->setObjectName(port + QStringLiteral("Note"));
        grid->addWidget(new QLabel(port, ports), row, 0);
        grid->addWidget(choice, row, 1);
        grid->addWidget(note, row, 2);
        connect(choice, &QComboBox::currentTextChanged, this, [this, port] { showNote(port); });
        Choices.insert(port, choice);
        Notes.insert(port, note);
        ++row;
    }
    grid->setColumnStretch(2, 1);
    ReconnectBox = new QCheckBox(
        QStringLiteral(
            "&Reconectar a porta serial sozinho quando o adaptador ou o servidor voltar"),
        ports);
    ReconnectBox->setObjectName(QStringLiteral("ReconnectBox"));
    grid->addWidget(ReconnectBox, row, 0, 1, 3);

    RescanButton = new QPushButton(QStringLiteral("A&tualizar"), this);
    RescanButton->setObjectName(QStringLiteral("RescanButton"));
    OkButton = new QPushButton(QStringLiteral("&OK"), this);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    CancelButton = new QPushButton(QStringLiteral("&Cancelar"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    setCancelButton(CancelButton);
    for (QPushButton* button : {RescanButton, OkButton, CancelButton})
        button->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(RescanButton);
    buttons->addStretch(1);
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* top = new QVBoxLayout(this);
    top->addWidget(new QLabel(QStringLiteral("Dispositivos encontrados:"), this));
    top->addWidget(DeviceList, 1);
    top->addWidget(ports);
    top->addLayout(buttons);
}

void TPortsWindow::showEvent(QShowEvent* event) {
    rescan();
    showChoices();
    TFormBase::showEvent(event);
}

void TPortsWindow::rescan() {
    const QList<SystemPort> serial = SystemPorts::serial(root_);
    const QList<SystemPort> parallel = SystemPorts::parallel(root_);
    // A USB printer answers on a COM port too.
    const QList<SystemPort> serialChoices = serial + SystemPorts::usbPrinters(root_);
    DeviceList->clear();
    for (const SystemPort& port : serial + parallel)
        new QTreeWidgetItem(DeviceList, {port.path, port.driver, port.description});

    for (auto it = Choices.cbegin(); it != Choices.cend(); ++it) {
        QComboBox* choice = it.value();
        const QString typed = choice->currentText();
        const QSignalBlocker quiet(choice);
        choice->clear();
        const QList<SystemPort>& found =
            PortChoices::isParallel(it.key()) ? parallel : serialChoices;
        for (const SystemPort& port : found) {
            choice->addItem(port.path);
            choice->setItemData(choice->count() - 1, port.description, Qt::ToolTipRole);
        }
        const QString usual = PortChoices::defaultDevice(it.key());
        if (choice->findText(usual) < 0) {
            choice->addItem(usual);
            choice->setItemData(choice->count() - 1, QStringLiteral("padrão"), Qt::ToolTipRole);
        }
        choice->addItem(VirtualPrinterText);
        choice->setCurrentText(typed);
    }
}

void TPortsWindow::showChoices() {
    ReconnectBox->setChecked(SerialReconnect::enabled());
    shown_.clear();
    for (auto it = Choices.cbegin(); it != Choices.cend(); ++it) {
        const QString device = PortChoices::currentDevice(it.key());
        shown_.insert(it.key(), device);
        it.value()->setCurrentText(shownText(device));
        showNote(it.key());
    }
}

void TPortsWindow::showNote(const QString& port) {
    const QString text = Choices.value(port)->currentText().trimmed();
    QString note;
    if (text.startsWith(QLatin1Char('/')) && !QFileInfo::exists(text))
        note = QStringLiteral("não encontrado");
    if (text == shownText(shown_.value(port)) && PortChoices::fromCommandLine(port))
        note = QStringLiteral("linha de comando, só nesta execução");
    Notes.value(port)->setText(note);
    QString invalid;
    Choices.value(port)->setToolTip(deviceHint(chosenDevice(port, text, &invalid).value_or(text)));
}

void TPortsWindow::OkButtonClick() {
    QMap<QString, QString> chosen;
    for (const QString& port : PortChoices::portNames()) {
        QString error;
        const std::optional<QString> device =
            chosenDevice(port, Choices.value(port)->currentText(), &error);
        if (!device) {
            Messages::warningBox(QStringLiteral("%1: %2").arg(port, error));
            Choices.value(port)->setFocus();
            return;
        }
        chosen.insert(port, *device);
    }
    SerialReconnect::setEnabled(ReconnectBox->isChecked());
    bool virtualChosen = false;
    for (auto it = chosen.cbegin(); it != chosen.cend(); ++it) {
        const QString& port = it.key();
        const QString usual = PortChoices::defaultDevice(port);
        const QString device = it.value() == usual ? QString() : it.value();
        // A port left as it was keeps where its device came from.
        if ((device.isEmpty() ? usual : device) == shown_.value(port))
            continue;
        PortChoices::choose(port, device);
        virtualChosen = virtualChosen || device == virtualDevice();
    }
    hide();
    if (virtualChosen)
        emit virtualPrinterChosen();
}
