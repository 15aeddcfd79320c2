// Choosing the real port: the devices listed from sysfs (a tree of the
// test's own), the remembered choices and the command line over them, the
// "Portas do sistema" dialog, and what the connection boxes say about a
// device that cannot be opened.
#include "app/CommandLine.h"
#include "comport/Pty.h"
#include "link/OpenFailure.h"
#include "link/PortChoices.h"
#include "link/PortsWindow.h"
#include "link/SystemPorts.h"
#include "link/comport/PortMap.h"
#include "link/portio/LptMap.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A machine's /dev, /sys and /proc as far as the ports go: an FTDI adapter
// (with its by-id name), an Arduino on ttyACM0, three UARTs and one ttyS
// without, parport0 with its device and parport1 without ppdev.
class FakeMachine {
public:
    FakeMachine() {
        const QString usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
        file(usb + "1-2/idVendor", "0403");
        file(usb + "1-2/idProduct", "6001");
        file(usb + "1-2/manufacturer", "FTDI");
        file(usb + "1-2/product", "FT232R USB UART");
        tty("ttyUSB0", usb + "1-2/1-2:1.0/ttyUSB0", "ftdi_sio");
        file(usb + "1-3/idVendor", "2341");
        file(usb + "1-3/idProduct", "0043");
        tty("ttyACM0", usb + "1-3/1-3:1.0", "cdc_acm");
        // As newer kernels have it: serial-base "ctrl" and "port" devices
        // between the UART and its tty.
        driver("sys/devices/pnp0/00:04", "serial");
        driver("sys/devices/pnp0/00:04/00:04:0", "ctrl", "serial-base");
        tty("ttyS0", "sys/devices/pnp0/00:04/00:04:0/00:04:0.0", "port", "4", "serial-base");
        for (const char* n : {"ttyS10", "ttyS2"})
            tty(n, "sys/devices/platform/serial8250", "serial8250", "4");
        tty("ttyS1", "sys/devices/platform/serial8250", "serial8250", "0");
        tty("tty0", "sys/devices/virtual", "");
        link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");

        driver("sys/devices/pnp0/00:05", "parport_pc");
        QDir().mkpath(path("sys/devices/pnp0/00:05/parport0"));
        QDir().mkpath(path("sys/devices/pnp0/00:05/parport1"));
        for (const char* port : {"parport0", "parport1"})
            link(QStringLiteral("sys/bus/parport/devices/") + port,
                 QStringLiteral("../../../devices/pnp0/00:05/") + port);
        file("dev/parport0", "");
        file("proc/sys/dev/parport/parport0/devices/active", "none\n");
        // Readable for the unprivileged checks below.
        for (QString folder = root.path(); folder != "/"; folder = QFileInfo(folder).path())
            ::chmod(QFile::encodeName(folder).constData(), 0755);
    }

    QString path(const QString& relative) const { return root.filePath(relative); }
    void file(const QString& relative, const QByteArray& text) const {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile f(path(relative));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    void link(const QString& relative, const QString& target) const {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QVERIFY(QFile::link(target, path(relative)));
    }
    void driver(const QString& device, const QString& name, const QString& bus = "any") const {
        const QString folder = "sys/bus/" + bus + "/drivers/" + name;
        QDir().mkpath(path(folder));
        link(device + "/driver", QDir(path(device)).relativeFilePath(path(folder)));
    }
    // A tty with its class device under its hardware, its driver and UART type.
    void tty(const QString& name, const QString& hardware, const QString& driverName,
             const QByteArray& type = {}, const QString& bus = "any") const {
        const QString classDevice = hardware + "/tty/" + name;
        QDir().mkpath(path(classDevice));
        if (!driverName.isEmpty())
            driver(hardware, driverName, bus);
        if (!type.isEmpty())
            file(classDevice + "/type", type + "\n");
        link("sys/class/tty/" + name, "../../" + classDevice.mid(4));
        file("dev/" + name, "");
    }

    QTemporaryDir root;
};

// What fn gives when run as an ordinary user, in a child process: the test
// runs as root, who may open anything.
QString asUnprivileged(const std::function<QString()>& fn) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return QStringLiteral("pipe failed");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(1);
        const QByteArray said = fn().toUtf8();
        [[maybe_unused]] const auto n = ::write(pipeEnds[1], said.constData(), size_t(said.size()));
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    QByteArray said;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, int(n));
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    return QString::fromUtf8(said);
}

void forgetEverything() {
    QSettings(QSettings::UserScope, "Tellumo", "tellumo").clear();
    PortMap::reset();
    LptMap::reset();
    PortChoices::applyAtStart({});
}

QStringList currentDevices() {
    QStringList devices;
    for (const QString& port : PortChoices::portNames())
        devices << PortChoices::currentDevice(port);
    return devices;
}

const QString ByIdName = "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

} // namespace

class PortsTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsFolder;
    FakeMachine machine;

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    }
    void init() { forgetEverything(); }
    void cleanupTestCase() { forgetEverything(); }

    void listsTheMachinesDevices() {
        const QString fdti = "FTDI FT232R USB UART (0403:6001)";
        const QList<SystemPort> serial{
            {machine.path(ByIdName), "ftdi_sio", fdti + " → ttyUSB0"},
            {machine.path("dev/ttyUSB0"), "ftdi_sio", fdti},
            {machine.path("dev/ttyACM0"), "cdc_acm", "USB 2341:0043"},
            {machine.path("dev/ttyS0"), "serial", "porta serial (UART)"},
            {machine.path("dev/ttyS2"), "serial8250", "porta serial (UART)"},
            {machine.path("dev/ttyS10"), "serial8250", "porta serial (UART)"},
        };
        QCOMPARE(SystemPorts::serial(machine.root.path()), serial);
        const QList<SystemPort> parallel{
            {machine.path("dev/parport0"), "parport_pc", "porta paralela"},
            {machine.path("dev/parport1"), "parport_pc",
             "porta paralela (módulo ppdev não carregado)"},
        };
        QCOMPARE(SystemPorts::parallel(machine.root.path()), parallel);
        QVERIFY(SystemPorts::serial(machine.path("nowhere")).isEmpty());
    }

    void rememberedChoicesAndTheCommandLine_data() {
        QTest::addColumn<QStringList>("remembered"); // "PORT=device"
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("devices"); // COM1 ... COM4, LPT1, LPT2
        QTest::addColumn<QStringList>("fromCommandLine");
        const QStringList defaults{"/dev/ttyS0", "/dev/ttyS1",    "/dev/ttyS2",
                                   "/dev/ttyS3", "/dev/parport0", "/dev/parport1"};
        QTest::newRow("nothing remembered")
            << QStringList{} << QStringList{} << defaults << QStringList{};
        QTest::newRow("remembered")
            << QStringList{"COM2=/dev/serial/by-id/x", "LPT1=virtual"} << QStringList{}
            << QStringList{"/dev/ttyS0", "/dev/serial/by-id/x", "/dev/ttyS2", "/dev/ttyS3",
                           "virtual",    "/dev/parport1"}
            << QStringList{};
        QTest::newRow("the command line overrides for the run")
            << QStringList{"COM2=/dev/ttyUSB0", "COM3=/dev/ttyACM0"}
            << QStringList{"--com2", "/dev/pts/7"}
            << QStringList{"/dev/ttyS0", "/dev/pts/7",    "/dev/ttyACM0",
                           "/dev/ttyS3", "/dev/parport0", "/dev/parport1"}
            << QStringList{"COM2"};
        QTest::newRow("--virtual-printer over the remembered, a named port kept")
            << QStringList{"COM1=/dev/ttyUSB0"}
            << QStringList{"--virtual-printer", "--lpt2", "/dev/parport3"}
            << QStringList{"virtual", "virtual", "virtual", "virtual", "virtual", "/dev/parport3"}
            << PortChoices::portNames();
    }
    void rememberedChoicesAndTheCommandLine() {
        QFETCH(QStringList, remembered);
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, devices);
        QFETCH(QStringList, fromCommandLine);
        {
            QSettings settings(QSettings::UserScope, "Tellumo", "tellumo");
            for (const QString& choice : remembered)
                settings.setValue("ports/" + choice.section('=', 0, 0), choice.section('=', 1));
        }
        PortMap::reset();
        LptMap::reset();
        PortChoices::applyAtStart(parseCommandLine(QStringList{"tellumo"} + arguments));
        QCOMPARE(currentDevices(), devices);
        QStringList overridden;
        for (const QString& port : PortChoices::portNames())
            if (PortChoices::fromCommandLine(port))
                overridden << port;
        QCOMPARE(overridden, fromCommandLine);
    }

    void theDialogLeadsAPortToTheChosenDeviceFromNowOn() {
        const QString byId = machine.path(ByIdName);
        TPortsWindow window(machine.root.path());
        window.show();
        QCOMPARE(window.DeviceList->topLevelItemCount(), 8);
        QCOMPARE(window.Choices["COM2"]->currentText(), "/dev/ttyS1");
        QVERIFY(window.Choices["COM2"]->findText(byId) >= 0);
        window.Choices["COM2"]->setCurrentText(byId);
        window.Choices["COM3"]->setCurrentText("/dev/pts/9");
        window.Choices["LPT1"]->setCurrentText("Impressora virtual");
        window.Choices["COM4"]->setCurrentText("ttyUSB0");
        // A device plugged in meanwhile shows up; what was typed stays.
        machine.tty("ttyUSB1", "sys/devices/virtual", "");
        window.RescanButton->click();
        QCOMPARE(window.DeviceList->topLevelItemCount(), 9);
        QCOMPARE(window.Choices["COM3"]->currentText(), "/dev/pts/9");

        // A name that is not a path is refused, and nothing changes.
        Messages::Recorder recorder;
        window.OkButton->click();
        QCOMPARE(recorder.entries.size(), 1);
        QVERIFY(recorder.entries[0].text.startsWith("COM4: \"ttyUSB0\" não é um dispositivo"));
        QVERIFY(window.isVisible());
        QCOMPARE(currentDevices()[1], "/dev/ttyS1");

        window.Choices["COM4"]->setCurrentText("");
        QSignalSpy virtualChosen(&window, &TPortsWindow::virtualPrinterChosen);
        window.OkButton->click();
        QVERIFY(!window.isVisible());
        QCOMPARE(virtualChosen.size(), 1);
        QCOMPARE(currentDevices(), (QStringList{"/dev/ttyS0", byId, "/dev/pts/9", "/dev/ttyS3",
                                                "virtual", "/dev/parport1"}));
        QCOMPARE(
            PortChoices::remembered(),
            (QMap<QString, QString>{{"COM2", byId}, {"COM3", "/dev/pts/9"}, {"LPT1", "virtual"}}));

        // The connection dialogs' port items show where each leads.
        TRadioGroup ports("Porta Serial", {"COM1", "COM2"});
        showDevicesAsHints(&ports);
        QCOMPARE(ports.Item(1)->toolTip(), byId + " → " + machine.path("dev/ttyUSB0"));
        PortMap::map("COM1", "virtual");
        QHelpEvent hover(QEvent::ToolTip, {}, {});
        QApplication::sendEvent(ports.Item(0), &hover);
        QCOMPARE(ports.Item(0)->toolTip(), "Impressora virtual");

        // At the next start the choices come back; the command line wins for one run.
        PortMap::reset();
        LptMap::reset();
        PortChoices::applyAtStart(parseCommandLine({"tellumo", "--com3", "/dev/pts/2"}));
        QCOMPARE(currentDevices(), (QStringList{"/dev/ttyS0", byId, "/dev/pts/2", "/dev/ttyS3",
                                                "virtual", "/dev/parport1"}));
        QCOMPARE(PortChoices::remembered().value("COM3"), "/dev/pts/9");
    }

    void aDeviceThatCannotBeOpenedSaysWhy_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("device"); // under the fake machine's root
        QTest::addColumn<QString>("cause");  // empty: nothing wrong to tell
        QTest::newRow("serial, missing") << "serial"
                                         << "dev/ttyUSB9"
                                         << "dispositivo não encontrado";
        QTest::newRow("serial, a file") << "serial"
                                        << "dev/ttyUSB0"
                                        << "não é um terminal serial";
        QTest::newRow("serial, a device not a terminal") << "serial"
                                                         << "/dev/null"
                                                         << "não é um terminal serial";
        QTest::newRow("serial, a sound terminal: held elsewhere") << "serial"
                                                                  << "pty"
                                                                  << "";
        QTest::newRow("serial, the virtual printer") << "serial"
                                                     << "virtual"
                                                     << "";
        QTest::newRow("parallel, port known but ppdev not loaded") << "parallel"
                                                                   << "dev/parport1"
                                                                   << "módulo ppdev não carregado";
        QTest::newRow("parallel, missing") << "parallel"
                                           << "dev/parport7"
                                           << "dispositivo não encontrado";
        QTest::newRow("parallel, taken by lp") << "parallel"
                                               << "dev/parport0"
                                               << "porta ocupada por outro driver (lp)";
        QTest::newRow("parallel, a device not a parallel port") << "parallel"
                                                                << "/dev/null"
                                                                << "não é uma porta paralela";
    }
    void aDeviceThatCannotBeOpenedSaysWhy() {
        QFETCH(QString, kind);
        QFETCH(QString, device);
        QFETCH(QString, cause);
        Pty pty;
        if (device == "pty")
            device = pty.slavePath;
        else if (!device.startsWith('/') && device != "virtual")
            device = machine.path(device);
        machine.file("proc/sys/dev/parport/parport0/devices/active", "lp\n");
        const QString said = kind == "serial"
                                 ? OpenFailure::serialCause(device)
                                 : OpenFailure::parallelCause(device, machine.root.path());
        machine.file("proc/sys/dev/parport/parport0/devices/active", "none\n");
        QCOMPARE(said, cause.isEmpty() ? QString() : device + ": " + cause);
    }

    // Permission is the commonest failure; it names the group to join.
    void aDeviceWithoutPermissionNamesTheGroup() {
        if (::geteuid() != 0)
            QSKIP("making a device another user may not open needs root");
        // getgrnam() reuses one record: keep each id before the next call.
        const group* found = ::getgrnam("dialout");
        const gid_t dialout = found ? found->gr_gid : 0;
        found = ::getgrnam("lp");
        const gid_t lp = found ? found->gr_gid : 0;
        if (!dialout || !lp)
            QSKIP("the dialout and lp groups are missing");
        const QString tty = machine.path("dev/ttyUSB0");
        const QString parport = machine.path("dev/parport0");
        QVERIFY(::chown(QFile::encodeName(tty).constData(), 0, dialout) == 0);
        QVERIFY(::chown(QFile::encodeName(parport).constData(), 0, lp) == 0);
        for (const QString& device : {tty, parport})
            QVERIFY(::chmod(QFile::encodeName(device).constData(), 0660) == 0);
        QCOMPARE(asUnprivileged([&] { return OpenFailure::serialCause(tty); }),
                 tty + ": sem permissão: adicione o usuário ao grupo dialout");
        QCOMPARE(asUnprivileged(
                     [&] { return OpenFailure::parallelCause(parport, machine.root.path()); }),
                 parport + ": sem permissão: grupo lp");
    }
};

QTEST_MAIN(PortsTest)
#include "tst_ports.moc"
