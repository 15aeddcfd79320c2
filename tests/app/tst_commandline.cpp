#include "app/CommandLine.h"
#include "link/comport/PortMap.h"

#include <QProcess>
#include <QTest>

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void portMapDefaultsAndMappings_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1") << "COM1"
                              << "/dev/ttyS0";
        QTest::newRow("COM4") << "COM4"
                              << "/dev/ttyS3";
        QTest::newRow("COM96") << "COM96"
                               << "/dev/ttyS95";
        QTest::newRow("COM97") << "COM97"
                               << "";
        QTest::newRow("COM0") << "COM0"
                              << "";
        QTest::newRow("leading zero") << "COM01"
                                      << "";
        QTest::newRow("not a COM name") << "LPT1"
                                        << "";
        QTest::newRow("mapped") << "COM2"
                                << "/dev/ttyUSB0";
    }
    void portMapDefaultsAndMappings() {
        QFETCH(QString, port);
        QFETCH(QString, device);
        PortMap::reset();
        PortMap::map(QStringLiteral("COM2"), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(PortMap::device(port), device);
        PortMap::reset();
    }

    void parsesDevicesAndVirtualPrinter() {
        const CommandLineOptions o =
            parseCommandLine({"tellumo", "--com2", "/dev/ttyUSB0", "--com4=virtual", "--lpt2",
                              "/dev/parport3", "--virtual-printer"});
        QCOMPARE(o.comDevices.value("COM2"), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(o.comDevices.value("COM4"), QStringLiteral("virtual"));
        QVERIFY(!o.comDevices.contains("COM1"));
        QCOMPARE(o.lptDevices.value("LPT2"), QStringLiteral("/dev/parport3"));
        QVERIFY(o.virtualPrinter);
    }

    // Answered before the program reaches for a display, so they work on a
    // bare terminal.
    void helpAndVersionNeedNoDisplay_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("said");
        QTest::newRow("--help") << "--help"
                                << "--com2 <DEVICE>";
        QTest::newRow("-h") << "-h"
                            << "Portas do sistema";
        QTest::newRow("--version") << "--version"
                                   << "Tellumo 3.3";
    }
    void helpAndVersionNeedNoDisplay() {
        QFETCH(QString, argument);
        QFETCH(QString, said);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        QProcess tellumo;
        tellumo.setProcessEnvironment(environment);
        tellumo.start(QStringLiteral(TELLUMO_BINARY), {argument});
        QVERIFY(tellumo.waitForFinished(20000));
        const QString output = QString::fromLocal8Bit(tellumo.readAllStandardOutput());
        QCOMPARE(tellumo.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tellumo.exitCode(), 0);
        QVERIFY2(output.contains(said), qPrintable(output));
    }

    void noArgumentsMeansDefaults() {
        const CommandLineOptions o = parseCommandLine({"tellumo"});
        QVERIFY(o.comDevices.isEmpty());
        QVERIFY(o.lptDevices.isEmpty());
        QVERIFY(!o.virtualPrinter);
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
