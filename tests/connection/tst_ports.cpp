// Choosing the real port: the devices listed from sysfs (a tree of the
// test's own), the remembered choices and the command line over them, the
// "Portas do sistema" dialog, and what the connection boxes say about a
// device that cannot be opened.
#include "app/CommandLine.h"
#include "comport/Pty.h"
#include "connection/OpenFailure.h"
#include "connection/PortChoices.h"
#include "connection/PortsWindow.h"
#include "connection/ProgramSettings.h"
#include "connection/SerialReconnect.h"
#include "connection/SystemPorts.h"
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
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The name udev gives qemu's FTDI adapter in /dev/serial/by-id.
const QString ByIdName = "dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_1-0000:00:02.0-1-if00-port0";

// A machine's /dev, /sys and /proc as far as the ports go, copied from what
// Debian's kernel shows in the virtual machine of scripts/kernel-test: qemu's
// FTDI adapter (with the by-id name udev gives it), an ACM gadget, UARTs and a
// ttyS without one (sysfs/qemu-6.1-ttys.txt), and two parallel ports with
// ppdev; the lp driver and a USB printer can be added.
class FakeMachine {
public:
    // parallel: "ppdev" (ppdev loaded), with "lp" and "usb" added; or
    // "no-ppdev", "no-parport" (the parport modules not loaded) and
    // "other-bases" (the ports at other addresses, as a PCI card's are).
    explicit FakeMachine(const QString& parallel = "ppdev") {
        // The qemu machine's ttyS0 gives way to a newer kernel's, with its
        // serial-base devices, placed where the first one was.
        replay(QFINDTESTDATA("sysfs/qemu-6.1-ttys.txt"),
               [](const QString& line) { return !line.contains("00:05"); });
        replay(QFINDTESTDATA("sysfs/serial-base-6.18-ttys.txt"), {},
               [](QString& line) { line.replace("00:00", "00:05"); });
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

        parallelPorts(parallel.split(' '));
        // Readable for the unprivileged checks below. Only the folders this
        // test made: the temporary folder itself (/tmp) keeps its sticky,
        // world-writable mode, which every other program relies on.
        const QString temp = QDir(QDir::tempPath()).canonicalPath();
        for (QString folder = QDir(root.path()).canonicalPath(); folder != temp && folder != "/";
             folder = QFileInfo(folder).path())
            ::chmod(QFile::encodeName(folder).constData(), 0755);
    }

    // Two PNP ports as the kernel numbers them, the 0x278 one first.
    void parallelPorts(const QStringList& state) const {
        const bool parport = !state.contains("no-parport");
        const bool moved = state.contains("other-bases");
        for (const int n : {0, 1}) {
            const QString hardware = "sys/devices/pnp0/" + pnp(n);
            const QString port = QStringLiteral("parport%1").arg(n);
            driver(hardware, "parport_pc", "pnp");
            file(hardware + "/id", "PNP0400\n");
            if (!parport)
                continue;
            QDir().mkpath(path("sys/devices/" + port));
            link("sys/bus/parport/devices/" + port, "../../../devices/" + port);
            const QByteArray base = moved ? (n ? "53264" : "53248") : (n ? "888" : "632");
            file("proc/sys/dev/parport/" + port + "/base-addr", base + "\t0\n");
            file("proc/sys/dev/parport/" + port + "/devices/active", "none\n");
        }
        if (parport && !state.contains("no-ppdev"))
            ppdev();
        if (state.contains("lp"))
            lp();
        if (state.contains("usb"))
            usbPrinter();
    }
    static QString pnp(int n) { return QStringLiteral("00:0%1").arg(n); }

    void ppdev() const {
        for (const int n : {0, 1}) {
            const QString port = QStringLiteral("parport%1").arg(n);
            const QString classDevice = "sys/devices/pnp0/" + pnp(n) + "/ppdev/" + port;
            link(classDevice + "/device", "../../../" + pnp(n));
            link("sys/class/ppdev/" + port, "../../" + classDevice.mid(4));
            node("dev/" + port, 99, n);
        }
    }
    // lp registered on both ports, as cups-filters loads it at boot.
    void lp() const {
        for (const int n : {0, 1}) {
            const QString name = QStringLiteral("lp%1").arg(n);
            const QString lpDevice = QStringLiteral("sys/devices/parport%1/lp.%1").arg(n);
            const QString classDevice = "sys/devices/pnp0/" + pnp(n) + "/printer/" + name;
            file(QStringLiteral("proc/sys/dev/parport/parport%1/devices/lp/timeslice").arg(n),
                 "200\n");
            link(classDevice + "/device", "../../../" + pnp(n));
            link("sys/class/printer/" + name, "../../" + classDevice.mid(4));
            driver(lpDevice, "lp", "parport");
            link(QStringLiteral("sys/bus/parport/devices/lp.%1").arg(n),
                 "../../../" + lpDevice.mid(4));
            node("dev/" + name, 6, n);
        }
    }
    // A USB printer on usblp, maker and model in its IEEE 1284 device ID.
    void usbPrinter() const {
        const QString usb = "sys/devices/platform/dummy_hcd.0/usb3/3-1";
        const QString classDevice = usb + "/3-1:1.0/usbmisc/lp0";
        file(usb + "/idVendor", "0525\n");
        file(usb + "/idProduct", "a4a8\n");
        file(usb + "/manufacturer", "Korvexa\n");
        file(usb + "/product", "Dual USB\n");
        driver(usb + "/3-1:1.0", "usblp", "usb");
        file(usb + "/3-1:1.0/bInterfaceClass", "07\n");
        file(usb + "/3-1:1.0/ieee1284_id", "MFG:Korvexa;MDL:Dual USB;CMD:ESC/POS;CLS:PRINTER;");
        link(classDevice + "/device", "../../../3-1:1.0");
        file(classDevice + "/dev", "180:0\n");
        link("sys/class/usbmisc/lp0", "../../" + classDevice.mid(4));
        link("sys/dev/char/180:0", "../../" + classDevice.mid(4));
        node("dev/usb/lp0", 180, 0);
    }
    // A character device with the driver's numbers, so the cause reader can
    // tell the kinds apart; a plain file where only root could make one.
    void node(const QString& relative, unsigned major, unsigned minor) const {
        QDir().mkpath(QFileInfo(path(relative)).path());
        if (::mknod(QFile::encodeName(path(relative)).constData(), S_IFCHR | 0644,
                    makedev(major, minor)) != 0)
            file(relative, "");
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
    // Bound once, however many ttys of the device are made.
    void driver(const QString& device, const QString& name, const QString& bus = "any") const {
        const QString folder = "sys/bus/" + bus + "/drivers/" + name;
        if (QFileInfo(path(device + "/driver")).isSymLink())
            return;
        QDir().mkpath(path(folder));
        link(device + "/driver", QDir(path(device)).relativeFilePath(path(folder)));
    }
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
    QSettings(QSettings::UserScope, ProgramSettings::Organisation, ProgramSettings::Application)
        .clear();
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
        QVERIFY(SystemPorts::serial(machine.path("nowhere")).isEmpty());
    }

    // What the machine has in each state: its parallel devices as listed, and
    // what LPT1 and LPT2 open by default.
    void parallelDevicesAndTheDefaults_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("listed");   // "path|driver|description"
        QTest::addColumn<QStringList>("defaults"); // LPT1, LPT2
        const QString pp0 = "dev/parport0|parport_pc|porta paralela em 0x278 (PNP0400)";
        const QString pp1 = "dev/parport1|parport_pc|porta paralela em 0x378 (PNP0400)";
        const QString usb = "dev/usb/lp0|usblp|impressora USB Korvexa Dual USB (0525:a4a8)";
        QTest::newRow("ppdev") << "ppdev" << QStringList{pp0 + ", LPT2", pp1 + ", LPT1"}
                               << QStringList{"dev/parport1", "dev/parport0"};
        QTest::newRow("beside lp, as with CUPS, and a USB printer")
            << "lp usb"
            << QStringList{pp0, pp1, "dev/lp0|lp|porta paralela em 0x278, pelo driver lp, LPT2",
                           "dev/lp1|lp|porta paralela em 0x378, pelo driver lp, LPT1", usb}
            << QStringList{"dev/lp1", "dev/lp0"};
        QTest::newRow("ppdev not loaded") << "no-ppdev"
                                          << QStringList{"dev/parport0||porta paralela em 0x278, "
                                                         "módulo ppdev não carregado, LPT2",
                                                         "dev/parport1||porta paralela em 0x378, "
                                                         "módulo ppdev não carregado, LPT1"}
                                          << QStringList{"dev/parport1", "dev/parport0"};
        QTest::newRow("only a USB printer") << "no-parport usb" << QStringList{usb + ", LPT1"}
                                            << QStringList{"dev/usb/lp0", "dev/parport1"};
        QTest::newRow("no port at a legacy base: the kernel's order")
            << "other-bases"
            << QStringList{"dev/parport0|parport_pc|porta paralela em 0xd000 (PNP0400), LPT1",
                           "dev/parport1|parport_pc|porta paralela em 0xd010 (PNP0400), LPT2"}
            << QStringList{"dev/parport0", "dev/parport1"};
    }
    void parallelDevicesAndTheDefaults() {
        QFETCH(QString, state);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, defaults);
        const FakeMachine here(state);
        QStringList got;
        for (const SystemPort& port : SystemPorts::parallel(here.root.path()))
            got << QStringList{QDir(here.root.path()).relativeFilePath(port.path), port.driver,
                               port.description}
                       .join('|');
        QCOMPARE(got, listed);
        QCOMPARE((QStringList{LptMap::defaultDevice("LPT1", here.root.path()),
                              LptMap::defaultDevice("LPT2", here.root.path())}),
                 (QStringList{here.path(defaults[0]), here.path(defaults[1])}));
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

        // A name that is not a path, a malformed network address and one for
        // a parallel port are refused, and nothing changes.
        window.Choices["COM1"]->setCurrentText("rfc2217://[::1]:4000");
        const QStringList refusals[] = {
            {"COM4", "ttyUSB0", "COM4: \"ttyUSB0\" não é um dispositivo"},
            {"COM4", "tcp://printer", "COM4: \"tcp://printer\" não é um endereço de rede válido"},
            {"LPT2", "tcp://printer:9100", "LPT2: \"tcp://printer:9100\": uma porta paralela não"}};
        for (const QStringList& refusal : refusals) {
            const QString kept = window.Choices[refusal[0]]->currentText();
            window.Choices[refusal[0]]->setCurrentText(refusal[1]);
            Messages::Recorder recorder;
            window.OkButton->click();
            QCOMPARE(recorder.entries.size(), 1);
            QVERIFY2(recorder.entries[0].text.startsWith(refusal[2]),
                     qPrintable(recorder.entries[0].text));
            QVERIFY(window.isVisible());
            QCOMPARE(currentDevices()[0], "/dev/ttyS0");
            window.Choices[refusal[0]]->setCurrentText(refusal[0] == "COM4" ? QString() : kept);
        }

        window.Choices["COM4"]->setCurrentText("");
        // Reconnecting a lost adapter is on until the operator turns it off.
        QVERIFY(window.ReconnectBox->isChecked());
        window.ReconnectBox->setChecked(false);
        QSignalSpy virtualChosen(&window, &TPortsWindow::virtualPrinterChosen);
        window.OkButton->click();
        QVERIFY(!SerialReconnect::enabled());
        QVERIFY(!window.isVisible());
        QCOMPARE(virtualChosen.size(), 1);
        QCOMPARE(currentDevices(), (QStringList{"rfc2217://[::1]:4000", byId, "/dev/pts/9",
                                                "/dev/ttyS3", "virtual", "/dev/parport1"}));
        QCOMPARE(PortChoices::remembered(),
                 (QMap<QString, QString>{{"COM1", "rfc2217://[::1]:4000"},
                                         {"COM2", byId},
                                         {"COM3", "/dev/pts/9"},
                                         {"LPT1", "virtual"}}));

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
        QCOMPARE(currentDevices(), (QStringList{"rfc2217://[::1]:4000", byId, "/dev/pts/2",
                                                "/dev/ttyS3", "virtual", "/dev/parport1"}));
        QCOMPARE(PortChoices::remembered().value("COM3"), "/dev/pts/9");
    }

    // A USB printer answers on a COM port as well as on LPT: every port
    // offers it, with its maker and model; the list shows it once.
    void aUsbPrinterIsOfferedToEveryPort() {
        const FakeMachine here("ppdev usb");
        const QString printer = here.path("dev/usb/lp0");
        TPortsWindow window(here.root.path());
        window.show();
        for (const QString& port : PortChoices::portNames()) {
            const int item = window.Choices[port]->findText(printer);
            QVERIFY2(item >= 0, qPrintable(port));
            QVERIFY(window.Choices[port]
                        ->itemData(item, Qt::ToolTipRole)
                        .toString()
                        .startsWith("impressora USB Korvexa Dual USB (0525:a4a8)"));
        }
        QCOMPARE(window.DeviceList->findItems(printer, Qt::MatchExactly).size(), 1);
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
        // "parallel <machine state>"; a cause naming another node than the
        // device starts with that node.
        QTest::newRow("parallel, port known but ppdev not loaded")
            << "parallel no-ppdev"
            << "dev/parport1"
            << "módulo ppdev não carregado: carregue-o com sudo modprobe ppdev";
        QTest::newRow("parallel, missing") << "parallel ppdev"
                                           << "dev/parport7"
                                           << "dispositivo não encontrado";
        QTest::newRow("parallel, a port another program holds through ppdev") << "parallel ppdev"
                                                                              << "dev/parport1"
                                                                              << "";
        const QString lpInUse =
            "em uso por outro programa, como o CUPS imprimindo: aguarde o fim da impressão";
        QTest::newRow("parallel, beside lp: its node in use") << "parallel lp"
                                                              << "dev/parport1"
                                                              << "dev/lp1: " + lpInUse;
        QTest::newRow("parallel, lp's node in use") << "parallel lp"
                                                    << "dev/lp0" << lpInUse;
        QTest::newRow("parallel, a USB printer another program holds") << "parallel ppdev usb"
                                                                       << "dev/usb/lp0"
                                                                       << "";
        QTest::newRow("parallel, a device not a parallel port") << "parallel ppdev"
                                                                << "/dev/null"
                                                                << "não é uma porta paralela";
    }
    void aDeviceThatCannotBeOpenedSaysWhy() {
        QFETCH(QString, kind);
        QFETCH(QString, device);
        QFETCH(QString, cause);
        const bool parallel = kind.startsWith("parallel");
        const FakeMachine here(parallel ? kind.section(' ', 1) : "ppdev");
        Pty pty;
        if (device == "pty")
            device = pty.slavePath;
        else if (!device.startsWith('/') && device != "virtual")
            device = here.path(device);
        struct stat st {};
        if (parallel && device.startsWith(here.root.path()) &&
            ::stat(QFile::encodeName(device).constData(), &st) == 0 && !S_ISCHR(st.st_mode))
            QSKIP("the device nodes of the fake machine need root");
        const OpenFailure::Cause said = parallel
                                            ? OpenFailure::parallelCause(device, here.root.path())
                                            : OpenFailure::serialCause(device);
        QString expected = cause.isEmpty() ? QString() : device + ": " + cause;
        if (cause.startsWith("dev/"))
            expected = here.path(cause.section(": ", 0, 0)) + ": " + cause.section(": ", 1);
        QCOMPARE(said.text, expected);
        // Only a holder, named or not, keeps the box's "another program" line.
        using Kind = OpenFailure::Cause::Kind;
        QCOMPARE(said.kind, cause.isEmpty()            ? Kind::Unknown
                            : cause.contains("em uso") ? Kind::InUse
                                                       : Kind::Other);
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
        // The boxes as nobody, a user outside both groups, sees them.
        const QString remedy = "sem permissão para o usuário nobody.\n"
                               "Adicione-o ao grupo %1 com o comando: sudo adduser nobody %1\n"
                               "A entrada no grupo só vale depois de sair e entrar de novo na "
                               "sessão.";
        QCOMPARE(asUnprivileged(
                     [&] { return OpenFailure::serialBoxText(OpenFailure::serialCause(tty)); }),
                 "Erro ao Conectar na Serial\n" + tty + ": " + remedy.arg("dialout"));
        QCOMPARE(asUnprivileged([&] {
                     return OpenFailure::parallelBoxText(
                         OpenFailure::parallelCause(parport, machine.root.path()));
                 }),
                 "Não foi possível abrir o driver da porta paralela\n" + parport + ": " +
                     remedy.arg("lp"));
        // A user the group lists already is missing only a new login.
        QCOMPARE(OpenFailure::noPermission("dialout", "ana", true),
                 "sem permissão para o usuário ana.\nO usuário já está no grupo dialout, mas a "
                 "sessão começou antes: saia e entre de novo.");
    }
};

QTEST_MAIN(PortsTest)
#include "tst_ports.moc"
