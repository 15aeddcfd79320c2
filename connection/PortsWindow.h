#pragma once

#include "windowkit/FormBase.h"

#include <QMap>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class TRadioGroup;

// "Portas do sistema": lists the serial and parallel devices the machine has
// and lets the operator lead each of COM1-COM4 and LPT1-LPT2 to one of them,
// to a path typed by hand (a pseudo-terminal such as /dev/pts/3), to the
// virtual printer, or (COM ports only) to a network line typed as
// tcp://HOST:PORT or rfc2217://HOST:PORT. The choices are remembered for the next runs; a port the
// command line chose keeps its device unless the operator changes it here.
class TPortsWindow : public TFormBase {
    Q_OBJECT
public:
    // root is where /dev and /sys are looked for: "/" but for tests.
    explicit TPortsWindow(const QString& root = QStringLiteral("/"));

    QTreeWidget* DeviceList;
    QPushButton* RescanButton;
    QPushButton* OkButton;
    QPushButton* CancelButton;
    QMap<QString, QComboBox*> Choices; // by port name
    QMap<QString, QLabel*> Notes;      // by port name: where the device comes from
    // Whether a serial connection whose device went away comes back by itself.
    QCheckBox* ReconnectBox;

    // Lists the devices again; what the operator typed stays.
    void rescan();
    // Applies and remembers the choices and hides the window; a choice that
    // is not a device shows why and leaves everything as it was.
    void OkButtonClick();

signals:
    // A port now leads to the virtual printer: it must be attached.
    void virtualPrinterChosen();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    void showChoices();
    void showNote(const QString& port);

    QString root_;
    QMap<QString, QString> shown_; // the device each choice showed when opened
};

// How a device appears to the operator: "Impressora virtual" for the virtual
// printer, a link's path with the device it leads to ("/dev/serial/by-id/... →
// /dev/ttyUSB0"), any other path as it is.
QString deviceHint(const QString& device);

// Gives each item of a group of port names (COM1 ..., LPT1 ...) the device the
// name leads to as its hint, kept current whenever the hint is shown.
void showDevicesAsHints(TRadioGroup* ports);
