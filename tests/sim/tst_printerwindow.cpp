// The virtual printer's window: the switches drive the printer, the lamps,
// the log and the paper roll follow it, the paper saves as PNG, and the
// window finds its place on the screen.
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/portio/LptMap.h"
#include "sim/printer/PrinterClock.h"
#include "sim/printer/VirtualPrinter.h"
#include "sim/window/PaperRollWidget.h"
#include "sim/window/VirtualPrinterWindow.h"
#include "sim/window/WindowPlacement.h"
#include "simlink/VirtualPrinterStation.h"

#include "windowkit/Messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
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
    void stationServesThePortsMappedToIt();
    void placedWhollyOnTheScreen_data();
    void placedWhollyOnTheScreen();
    void fitsBesideTheMainWindowAndOnSmallScreens();
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

void TestPrinterWindow::stationServesThePortsMappedToIt() {
    PortMap::reset();
    PortMap::map(QStringLiteral("COM3"), QString::fromLatin1(PortMap::VirtualDevice));
    {
        VirtualPrinterStation station;
        QMainWindow mainWindow;
        mainWindow.setCentralWidget(new QWidget);
        mainWindow.centralWidget()->setFixedSize(726, 469);
        station.showDocked(&mainWindow);
        mainWindow.show();
        QVERIFY(station.window()->isVisible());
        // One top-level window holds both.
        QCOMPARE(station.window()->window(), &mainWindow);
        auto* dock = mainWindow.findChild<QDockWidget*>();
        dock->close();
        QVERIFY(!station.window()->isVisible());
        station.showDocked(&mainWindow);
        QVERIFY(station.window()->isVisible());
        QCOMPARE(mainWindow.findChildren<QDockWidget*>().size(), 1);
        // The program's port, opened by name, reaches the printer.
        TComPort port;
        port.SetPort(QStringLiteral("COM3"));
        port.Open();
        port.Write("\x1bI1", 3);
        QByteArray reply(17, '\0');
        QCOMPARE(port.Read(reply.data(), 17), 17);
        QCOMPARE(reply.mid(1), VirtualPrinter::DualModelName);
        port.Close();
        station.undock();
    }
    QVERIFY(!PortMap::virtualLine(QStringLiteral("COM3")));
    PortMap::reset();
}

void TestPrinterWindow::placedWhollyOnTheScreen_data() {
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("mainFrame");
    QTest::addColumn<QPoint>("main");
    QTest::addColumn<QPoint>("beside");
    // The printer's window is 974 x 640 with its frame, the main window 734 x 520.
    QTest::newRow("room on the right") << QRect(0, 0, 2560, 1440) << QRect(100, 100, 734, 520)
                                       << QPoint(100, 100) << QPoint(842, 100);
    QTest::newRow("room on the left only") << QRect(0, 0, 1920, 1080) << QRect(1100, 100, 734, 520)
                                           << QPoint(1100, 100) << QPoint(118, 100);
    QTest::newRow("1920 x 1080, centred main window: the pair fits once it moves")
        << QRect(0, 0, 1920, 1040) << QRect(593, 260, 734, 520) << QPoint(102, 260)
        << QPoint(844, 260);
    QTest::newRow("1280 x 1024: at opposite edges, over the main window's right part")
        << QRect(0, 0, 1280, 1024) << QRect(273, 252, 734, 520) << QPoint(0, 252)
        << QPoint(306, 252);
    QTest::newRow("low main window: raised to end at the screen's bottom")
        << QRect(0, 0, 1920, 1080) << QRect(50, 500, 734, 520) << QPoint(50, 500)
        << QPoint(792, 440);
    QTest::newRow("second screen") << QRect(1920, 0, 1280, 1024) << QRect(2000, 100, 734, 520)
                                   << QPoint(1920, 100) << QPoint(2226, 100);
    QTest::newRow("no main window: centred")
        << QRect(0, 0, 1280, 1024) << QRect() << QPoint() << QPoint(152, 191);
}

void TestPrinterWindow::placedWhollyOnTheScreen() {
    QFETCH(QRect, available);
    QFETCH(QRect, mainFrame);
    QFETCH(QPoint, main);
    QFETCH(QPoint, beside);
    const WindowPlaces places = placeBeside(QSize(974, 640), mainFrame, available);
    QCOMPARE(places.main, main);
    QCOMPARE(places.beside, beside);
    QVERIFY(available.contains(QRect(places.beside, QSize(974, 640))));
}

// At its own size the window sits beside the main window on a 1920 x 1080
// screen; it can shrink to fit beside it on 1366 x 768, the paper scrolling
// sideways.
void TestPrinterWindow::fitsBesideTheMainWindowAndOnSmallScreens() {
    VirtualPrinter printer;
    VirtualPrinterWindow window(&printer);
    const QSize natural = window.sizeHint();
    QVERIFY2(natural.width() <= 1920 - 734 - 8 && natural.height() <= 1000,
             qPrintable(QStringLiteral("%1 x %2").arg(natural.width()).arg(natural.height())));
    // Docked beside the main window's client area, under a title bar, a
    // menu bar and the dock's title, on a desktop with a top bar.
    const QSize extra(8 + 8, 30 + 4 + 22 + 24);
    const QSize small(1366, 768 - 32);
    const QSize docked =
        dockedSize(natural, window.minimumSizeHint(), small, QSize(726, 469), extra);
    QVERIFY2(docked.width() <= small.width() - 726 - extra.width() &&
                 docked.height() <= small.height() - extra.height(),
             qPrintable(QStringLiteral("%1 x %2").arg(docked.width()).arg(docked.height())));
    QCOMPARE(
        dockedSize(natural, window.minimumSizeHint(), QSize(2560, 1400), QSize(726, 469), extra),
        natural);
    window.resize(600, 700);
    auto* roll = window.findChild<PaperRollWidget*>(QStringLiteral("PaperRoll"));
    QVERIFY(roll->horizontalScrollBar()->maximum() > 0);
}

QTEST_MAIN(TestPrinterWindow)
#include "tst_printerwindow.moc"
