// The virtual printer's window: the switches drive the printer, the lamps,
// the log and the paper roll follow it, and the paper saves as PNG.
#include "app/CommandLine.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/portio/LptMap.h"
#include "sim/PaperRollWidget.h"
#include "sim/PrinterClock.h"
#include "sim/VirtualPrinter.h"
#include "sim/VirtualPrinterSetup.h"
#include "sim/VirtualPrinterWindow.h"

#include "app/Messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

class TestPrinterWindow : public QObject {
    Q_OBJECT
private slots:
    void switchesDrivePrinter_data();
    void switchesDrivePrinter();
    void lampsFollowThePrinter();
    void logShowsBytesBothWays();
    void buttonsClearAndResetAndSave();
    void savingToABadPlaceIsReported();
    void panelShowsTheSettingsAndTheFeedKeyObeysThem();
    void rollFollowsTheNewestLine();
    void clockRunsOnlyWhileThePrinterHasWork();
    void setUpAttachesThePortsMappedToThePrinter_data();
    void setUpAttachesThePortsMappedToThePrinter();
};

void TestPrinterWindow::switchesDrivePrinter_data() {
    QTest::addColumn<QString>("control");
    QTest::newRow("Sem papel") << "PaperOutSwitch";
    QTest::newRow("Off-line") << "OfflineSwitch";
    QTest::newRow("Modelo") << "ModelSwitch";
    QTest::newRow("Velocidade") << "PrintSpeed";
}

void TestPrinterWindow::switchesDrivePrinter() {
    QFETCH(QString, control);
    VirtualPrinter printer;
    VirtualPrinterWindow window(&printer);
    if (auto* box = window.findChild<QCheckBox*>(control)) {
        box->setChecked(true);
        QVERIFY(control == "PaperOutSwitch" ? printer.paperOut() : printer.offline());
        QVERIFY(printer.fault());
    } else if (auto* combo = window.findChild<QComboBox*>(control)) {
        combo->setCurrentIndex(1);
        QCOMPARE(printer.model(), PrinterModel::Compatible);
    } else if (auto* spin = window.findChild<QSpinBox*>(control)) {
        spin->setValue(3);
        QCOMPARE(printer.linesPerSecond(), 3.0);
    } else {
        QFAIL("no such control");
    }
}

void TestPrinterWindow::lampsFollowThePrinter() {
    VirtualPrinter printer;
    VirtualPrinterWindow window(&printer);
    auto* online = window.findChild<LampWidget*>("OnlineLamp");
    auto* paper = window.findChild<LampWidget*>("PaperLamp");
    auto* drawer = window.findChild<LampWidget*>("DrawerLamp");
    QVERIFY(online->isOn() && paper->isOn() && !drawer->isOn());
    printer.setOffline(true);
    printer.setPaperOut(true);
    QVERIFY(!online->isOn() && !paper->isOn());
    QVERIFY(window.findChild<QCheckBox*>("OfflineSwitch")->isChecked());
    printer.setOffline(false);
    printer.setPaperOut(false);
    printer.receive(QByteArray("\x1bp\x00\x0a\x0a", 5));
    printer.advance(1);
    QVERIFY(drawer->isOn());
    printer.advance(VirtualPrinter::DrawerOpenMs);
    QVERIFY(!drawer->isOn());
}

void TestPrinterWindow::logShowsBytesBothWays() {
    VirtualPrinter printer;
    VirtualPrinterWindow window(&printer);
    // A byte at a time, as the serial line delivers them, gathered on one line.
    for (char c : QByteArray("Ol\xE1\n"))
        printer.receive(QByteArray(1, c));
    printer.receive("\x1bv\x1bZ");
    const QStringList lines = window.logLines();
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].endsWith(QStringLiteral("← 4F 6C E1 0A 1B 76 1B 5A") + QString(26, ' ') +
                              "Olá..v.Z"));
    QVERIFY(lines[1].endsWith(QStringLiteral("Pedido de status")));
    QVERIFY(lines[2].contains(QStringLiteral("→ 06 50 4C 46 31 31 30 44 4E")));
    QVERIFY(lines[3].endsWith(QStringLiteral("! Sequência desconhecida ESC Z ignorada")));
}

void TestPrinterWindow::buttonsClearAndResetAndSave() {
    VirtualPrinter printer;
    VirtualPrinterWindow window(&printer);
    printer.receive("\x1bxabc");
    printer.advance(1000);
    QVERIFY(!printer.paper().lines().isEmpty());

    QTemporaryDir dir;
    const QString path = dir.filePath("papel.png");
    QVERIFY(window.savePaper(path));
    QVERIFY(!QImage(path).isNull());

    window.findChild<QPushButton*>("ResetButton")->click();
    QVERIFY(!printer.dumpMode());
    window.findChild<QPushButton*>("ClearPaperButton")->click();
    QVERIFY(printer.paper().lines().isEmpty());
}

void TestPrinterWindow::panelShowsTheSettingsAndTheFeedKeyObeysThem() {
    VirtualPrinter printer;
    VirtualPrinterWindow window(&printer);
    auto* feedKey = window.findChild<QPushButton*>("FeedKey");
    feedKey->click();
    printer.advance(1000);
    QCOMPARE(printer.paper().lines().size(), 1);

    printer.receive(QByteArray("\x1b"
                               "a\x0c\x1by\x00\x1b~\x01",
                               9));
    const QString settings = window.findChild<QLabel*>("PrinterSettings")->text();
    for (const char* shown :
         {"Último avanço: 12 linhas", "Teclado: desligado", "Sinalização RTS: autenticação"})
        QVERIFY2(settings.contains(QString::fromUtf8(shown)), shown);
    printer.advance(600000);
    const int lines = printer.paper().lines().size();
    feedKey->click();
    printer.advance(1000);
    QCOMPARE(printer.paper().lines().size(), lines);
}

void TestPrinterWindow::savingToABadPlaceIsReported() {
    Messages::Recorder recorder;
    VirtualPrinter printer;
    VirtualPrinterWindow window(&printer);
    QVERIFY(!window.savePaper("/nonexistent-dir/papel.png"));
    QCOMPARE(recorder.entries.size(), 1);
    QCOMPARE(recorder.entries[0].form, Messages::Form::Warning);
    QCOMPARE(recorder.entries[0].text,
             QStringLiteral("Não foi possível salvar o papel em /nonexistent-dir/papel.png."));
}

void TestPrinterWindow::rollFollowsTheNewestLine() {
    VirtualPrinter printer;
    PaperRollWidget roll(&printer);
    roll.resize(roll.sizeHint());
    roll.show();
    QScrollBar* bar = roll.verticalScrollBar();
    for (int i = 0; i < 100; ++i)
        printer.receive(QByteArray::number(i) + '\n');
    printer.advance(600000);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    // Scrolled back, the operator keeps the place while lines come in.
    bar->setValue(0);
    printer.receive("more\n");
    printer.advance(1000);
    QCOMPARE(bar->value(), 0);
    printer.clearPaper();
    QCOMPARE(bar->maximum(), 0);
}

void TestPrinterWindow::clockRunsOnlyWhileThePrinterHasWork() {
    VirtualPrinter printer;
    PrinterClock clock(&printer);
    clock.start();
    QVERIFY(!clock.ticking());
    printer.receive("pending text waits for its line feed");
    QVERIFY(!clock.ticking());
    printer.receive("\n");
    QVERIFY(clock.ticking());
    printer.setPaperOut(true);
    QVERIFY(!clock.ticking());
    printer.setPaperOut(false);
    QVERIFY(clock.ticking());
    QTRY_COMPARE(printer.paper().lines().size(), 1);
    QTRY_VERIFY(!clock.ticking());
}

void TestPrinterWindow::setUpAttachesThePortsMappedToThePrinter_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("virtualPorts");
    QTest::addColumn<bool>("windowShown");

    QTest::newRow("--virtual-printer")
        << QStringList{"--virtual-printer"}
        << QStringList{"COM1", "COM2", "COM3", "COM4", "LPT1", "LPT2"} << true;
    QTest::newRow("a port the command line maps to a device keeps it")
        << QStringList{"--virtual-printer", "--com2", "/dev/ttyUSB0", "--lpt1", "/dev/parport3"}
        << QStringList{"COM1", "COM3", "COM4", "LPT2"} << true;
    QTest::newRow("one port, no window")
        << QStringList{"--com3", "virtual"} << QStringList{"COM3"} << false;
    QTest::newRow("no virtual port, no printer") << QStringList{} << QStringList{} << false;
}

void TestPrinterWindow::setUpAttachesThePortsMappedToThePrinter() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, virtualPorts);
    QFETCH(bool, windowShown);
    PortMap::reset();
    LptMap::reset();
    const CommandLineOptions options = parseCommandLine(QStringList{"tellumo"} + arguments);
    for (auto it = options.comDevices.cbegin(); it != options.comDevices.cend(); ++it)
        PortMap::map(it.key(), it.value());
    for (auto it = options.lptDevices.cbegin(); it != options.lptDevices.cend(); ++it)
        LptMap::map(it.key(), it.value());

    QWidget mainWindow;
    auto station = setUpVirtualPrinter(options, &mainWindow);
    QCOMPARE(station != nullptr, !virtualPorts.isEmpty());
    QStringList mapped;
    for (const char* name : {"COM1", "COM2", "COM3", "COM4"})
        if (PortMap::device(name) == PortMap::VirtualDevice)
            mapped << QString::fromLatin1(name);
    for (const char* name : {"LPT1", "LPT2"})
        if (LptMap::device(name) == LptMap::VirtualDevice)
            mapped << QString::fromLatin1(name);
    QCOMPARE(mapped, virtualPorts);

    if (station) {
        QCOMPARE(station->window()->isVisible(), windowShown);
        // The program's port, opened by name, reaches the printer.
        TComPort port;
        port.SetPort(virtualPorts.first());
        port.Open();
        const QByteArray request("\x1bI1");
        port.Write(request.constData(), 3);
        QByteArray reply(17, '\0');
        QCOMPARE(port.Read(reply.data(), 17), 17);
        QCOMPARE(reply.mid(1), VirtualPrinter::DualModelName);
        port.Close();
    }
    station.reset();
    QVERIFY(!PortMap::virtualLine("COM1"));
    PortMap::reset();
    LptMap::reset();
}

QTEST_MAIN(TestPrinterWindow)
#include "tst_printerwindow.moc"
