// Choosing the real port: the devices listed from sysfs (a tree of the
// test's own), the remembered choices and the command line over them, the
// "Portas do sistema" dialog, and what the connection boxes say about a
// device that cannot be opened.
#include "app/CommandLine.h"
#include "comport/Pty.h"
#include "link/OpenFailure.h"
#include "link/PortChoices.h"
#include "link/PortsWindow.h"
#include "link/SerialReconnect.h"
#include "link/SystemPorts.h"
#include "link/comport/PortMap.h"
#include "link/portio/LptMap.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QApplication>
#include <QCheckBox>
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

// The name udev gives qemu's FTDI adapter in /dev/serial/by-id.
const QString ByIdName = "dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_1-0000:00:02.0-1-if00-port0";

// A machine's /dev, /sys and /proc as far as the ports go. The serial side
// is what a real kernel showed (sysfs/qemu-6.1-ttys.txt): qemu's FTDI adapter,
// an ACM gadget, four UARTs and a ttyS without one, with the by-id name udev
// gives the adapter; parport0 with its device and parport1 without ppdev.
class FakeMachine {
public:
    FakeMachine() {
        // The qemu machine's ttyS0 (at pnp0/00:05) gives way to a newer
        // kernel's, and its place to the parallel port.
        replay(QFINDTESTDATA("sysfs/qemu-6.1-ttys.txt"),
               [](const QString& line) { return !line.contains("00:05"); });
        replay(QFINDTESTDATA("sysfs/serial-base-6.18-ttys.txt"));
        link(ByIdName, "../../ttyUSB0");
        // A driver with a name of its own (Exar's xr_usb_serial registers
        // its ttys as cdc_acm does): the ACM gadget's entries, renamed.
        replay(
            QFINDTESTDATA("sysfs/qemu-6.1-ttys.txt"),
            [](const QString& line) { return line.contains("4-2") || line.contains("ttyXRUSB0"); },
            [](QString& line) {
                line.replace("4-1", "4-2").replace("ttyACM0", "ttyXRUSB0");
                line.replace("cdc_acm", "xr_usb_serial_common");
            });

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
    // Makes the links and files a listing of sysfs gives ("L path target",
    // "F path first-line"), with each link's target folder, and a /dev node
    // for each tty; only the lines keep takes, after edit.
    void replay(const QString& listing, const std::function<bool(const QString&)>& keep = {},
                const std::function<void(QString&)>& edit = {}) const {
        QFile f(listing);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(listing));
        for (QString line : QString::fromUtf8(f.readAll()).split('\n')) {
            if (edit)
                edit(line);
            const QStringList fields = line.split(' ');
            if (fields.size() < 3 || line.startsWith('#') || (keep && !keep(line)))
                continue;
            if (fields[0] == "F") {
                file(fields[1], fields.mid(2).join(' ').toUtf8() + "\n");
                continue;
            }
            QDir().mkpath(QFileInfo(path(fields[1])).path() + '/' + fields[2]);
            link(fields[1], fields[2]);
            if (fields[1].startsWith("sys/class/tty/"))
                file("dev/" + fields[1].mid(14), "");
        }
    }
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
        const QString ftdi = "QEMU QEMU USB SERIAL (0403:6001)";
        const QString uart = "porta serial (UART)";
        const QList<SystemPort> serial{
            {machine.path(ByIdName), "ftdi_sio", ftdi + " → ttyUSB0"},
            {machine.path("dev/ttyUSB0"), "ftdi_sio", ftdi},
            {machine.path("dev/ttyACM0"), "cdc_acm", "Korvexa Dual USB (0525:a4a7)"},
            {machine.path("dev/ttyXRUSB0"), "xr_usb_serial_common", "Korvexa Dual USB (0525:a4a7)"},
            {machine.path("dev/ttyS0"), "serial", uart},
            {machine.path("dev/ttyS1"), "serial", uart},
            {machine.path("dev/ttyS2"), "serial", uart},
            {machine.path("dev/ttyS3"), "serial", uart},
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
        QCOMPARE(window.DeviceList->topLevelItemCount(), 10);
        QCOMPARE(window.Choices["COM2"]->currentText(), "/dev/ttyS1");
        QVERIFY(window.Choices["COM2"]->findText(byId) >= 0);
        window.Choices["COM2"]->setCurrentText(byId);
        window.Choices["COM3"]->setCurrentText("/dev/pts/9");
        window.Choices["LPT1"]->setCurrentText("Impressora virtual");
        window.Choices["COM4"]->setCurrentText("ttyUSB0");
        // A device plugged in meanwhile shows up; what was typed stays.
        machine.replay(
            QFINDTESTDATA("sysfs/qemu-6.1-ttys.txt"),
            [](const QString& line) { return line.contains("ttyUSB1"); },
            [](QString& line) { line.replace("ttyUSB0", "ttyUSB1"); });
        window.RescanButton->click();
        QCOMPARE(window.DeviceList->topLevelItemCount(), 11);
        QCOMPARE(window.Choices["COM3"]->currentText(), "/dev/pts/9");

        // A name that is not a path is refused, and nothing changes.
        Messages::Recorder recorder;
        window.OkButton->click();
        QCOMPARE(recorder.entries.size(), 1);
        QVERIFY(recorder.entries[0].text.startsWith("COM4: \"ttyUSB0\" não é um dispositivo"));
        QVERIFY(window.isVisible());
        QCOMPARE(currentDevices()[1], "/dev/ttyS1");

        window.Choices["COM4"]->setCurrentText("");
        // Reconnecting a lost adapter is on until the operator turns it off.
        QVERIFY(window.ReconnectBox->isChecked());
        window.ReconnectBox->setChecked(false);
        QSignalSpy virtualChosen(&window, &TPortsWindow::virtualPrinterChosen);
        window.OkButton->click();
        QVERIFY(!SerialReconnect::enabled());
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
