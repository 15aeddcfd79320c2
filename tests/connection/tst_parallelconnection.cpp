// "Configuração Paralela" end to end: the real window and handlers, PortIO1 on
// virtual parallel ports, the virtual printer at the far end.
#include "app/Application.h"
#include "app/FileSend.h"
#include "app/Form1.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "app/LoadedFile.h"
#include "connection/Disconnect.h"
#include "connection/FarEnd.h"
#include "connection/Form9.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "link/comport/ComLed.h"
#include "link/portio/PortIO.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

using Access = VirtualParallelPort::Access;
using Entry = Messages::Recorder::Entry;
using Reg = ParallelPortBackend::Register;

const QString DriverError = QStringLiteral("Não foi possível abrir o driver da porta paralela");

void verifySerialIndicators() {
    for (QWidget* shown : std::initializer_list<QWidget*>{Form1->ComLed1, Form1->ComLed2})
        QVERIFY2(shown->isVisible(), qPrintable(shown->objectName()));
    for (QWidget* hidden : std::initializer_list<QWidget*>{Form1->ComLed3, Form1->ComLed4,
                                                           Form1->ComLed5, Form1->Label3})
        QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
    QCOMPARE(Form1->Label1->text(), QStringLiteral("CTS"));
    QVERIFY(!Form1->Timer1->isActive());
    QVERIFY(Form1->Serial1->isEnabled());
}

} // namespace

class ParallelConnectionTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FarEnd> farEnd;

private slots:
    void initTestCase() { QVERIFY(QTest::qWaitForWindowExposed(Form1)); }

    void init() {
        LinkState = TLinkState{};
        farEnd = std::make_unique<FarEnd>();
    }

    void cleanup() {
        disconnectBoth();
        Form9->RadioGroup1->SetItemIndex(0);
        Form9->CheckBox1->setChecked(true);
        Form9->CheckBox2->setChecked(false);
        farEnd.reset();
        LinkState = TLinkState{};
    }

    void opensWithItsChoicesAndTheCaptionWithoutAccelerator() {
        QCOMPARE(Form9->RadioGroup1->ItemIndex(), 0);
        QVERIFY(Form9->CheckBox1->isChecked());
        QVERIFY(!Form9->CheckBox2->isChecked());
        QCOMPARE(Form9->BitBtn1->text(), QStringLiteral("Conectar"));

        Form9->showForm();
        QVERIFY(QTest::qWaitForWindowExposed(Form9));
        for (QWidget* control :
             std::initializer_list<QWidget*>{Form9->RadioGroup1, Form9->CheckBox1, Form9->CheckBox2,
                                             Form9->BitBtn1, Form9->BitBtn2}) {
            QVERIFY2(Form9->rect().contains(control->geometry()),
                     qPrintable(control->objectName()));
            QVERIFY2(control->width() >= control->sizeHint().width(),
                     qPrintable(control->objectName()));
        }
        QTest::keyClick(Form9, Qt::Key_Escape);
        QVERIFY(!Form9->isVisible());
    }

    void connectSwitchesToTheParallelPortAndDisconnectSwitchesBack_data() {
        QTest::addColumn<int>("lpt");
        QTest::addColumn<bool>("compatible");
        QTest::addColumn<int>("base");
        QTest::newRow("LPT1") << 0 << false << 0x378;
        QTest::newRow("LPT2, compatible") << 1 << true << 0x278;
    }
    void connectSwitchesToTheParallelPortAndDisconnectSwitchesBack() {
        QFETCH(int, lpt);
        QFETCH(bool, compatible);
        QFETCH(int, base);
        const auto port = farEnd->links.parallelPort(lpt == 0 ? "LPT1" : "LPT2");
        const auto other = farEnd->links.parallelPort(lpt == 0 ? "LPT2" : "LPT1");
        port->write(Reg::Control, 0x2D); // strobe asserted, other bits set
        port->setRecording(true);
        port->clearAccesses();
        farEnd->received.clear(); // the strobe above took a byte
        Form9->RadioGroup1->Item(lpt)->click();
        Form9->CheckBox2->setChecked(compatible);
        Messages::Recorder recorder;

        Form9->BitBtn1->click();
        QVERIFY(LinkState.ParallelConnected);
        QCOMPARE(LinkState.LptBasePort, base);
        QCOMPARE(LinkState.CompatibleMode, compatible);
        // The strobe released, every other control bit kept; nothing else touched.
        QCOMPARE(port->accesses(),
                 (QList<Access>{{Reg::Control, false, 0x2D}, {Reg::Control, true, 0x2C}}));
        QVERIFY(farEnd->received.isEmpty());
        // Only the port picked is held: the other stays free.
        QCOMPARE(other.use_count(), 2);
        for (QWidget* shown : std::initializer_list<QWidget*>{Form1->ComLed3, Form1->ComLed4,
                                                              Form1->ComLed5, Form1->Label3})
            QVERIFY2(shown->isVisible(), qPrintable(shown->objectName()));
        for (QWidget* hidden : std::initializer_list<QWidget*>{Form1->ComLed1, Form1->ComLed2})
            QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
        QCOMPARE(Form1->Label1->text(), QStringLiteral("BUSY"));
        QVERIFY(Form1->Label1->width() >= Form1->Label1->sizeHint().width());
        QVERIFY(Form1->Timer1->isActive());
        QCOMPARE(Form1->Timer1->interval(), 400);
        QVERIFY(!Form1->Serial1->isEnabled());
        QCOMPARE(Form9->BitBtn1->text(), QStringLiteral("&Desconectar"));
        QVERIFY(!Form9->RadioGroup1->isEnabled());

        // "Compatível" counts at connect only.
        Form9->CheckBox2->setChecked(!compatible);
        QCOMPARE(LinkState.CompatibleMode, compatible);

        LinkState.FaultBlinkPhase = true;
        Form1->ComLed5->SetState(lsOn);
        Form9->BitBtn1->click();
        QVERIFY(!LinkState.ParallelConnected);
        QVERIFY(!LinkState.CompatibleMode);
        QVERIFY(!LinkState.FaultBlinkPhase);
        QVERIFY(!Form9->CheckBox2->isChecked());
        QCOMPARE(Form1->ComLed5->State(), lsOff);
        QCOMPARE(LinkState.LptBasePort, base);
        QCOMPARE(Form9->BitBtn1->text(), QStringLiteral("&Conectar"));
        QVERIFY(Form9->RadioGroup1->isEnabled());
        verifySerialIndicators();
        QVERIFY(!Form1->PortIO1->ActiveHW());
        QVERIFY(recorder.entries.isEmpty());
    }

    void timerTicksFollowThePrintersBusyAndPaperOutLines() {
        Form9->RadioGroup1->Item(1)->click();
        Form9->BitBtn1->click();
        QVERIFY(LinkState.ParallelConnected);
        // Ticks are driven here, not waited for.
        Form1->Timer1->stop();
        auto lamps = [] {
            Timer1Timer();
            return QList<TLedState>{Form1->ComLed3->State(), Form1->ComLed5->State()};
        };
        using L = QList<TLedState>;

        QCOMPARE(lamps(), (L{lsOff, lsOff}));
        farEnd->printer.setPaperOut(true);
        QCOMPARE(lamps(), (L{lsOff, lsOn}));
        QCOMPARE(lamps(), (L{lsOff, lsOff}));
        QCOMPARE(lamps(), (L{lsOff, lsOn}));
        farEnd->printer.setOffline(true);
        QCOMPARE(lamps(), (L{lsOn, lsOff}));
        QVERIFY(LinkState.PrinterBusy);

        // "Verifica Busy" is read at every tick.
        Form9->CheckBox1->setChecked(false);
        QCOMPARE(lamps(), (L{lsOff, lsOn}));
        Form9->CheckBox1->setChecked(true);
        farEnd->printer.setOffline(false);
        farEnd->printer.setPaperOut(false);
        QCOMPARE(lamps(), (L{lsOff, lsOff}));
        QVERIFY(!LinkState.PrinterBusy);
        QVERIFY(!LinkState.PrinterFault);
    }

    // A device that goes away (a USB cable pulled out) ends the connection
    // with one warning, found by the status timer or by a running send, which
    // then ends without a word of its own; back again, it connects.
    void aLostDeviceEndsTheConnectionOnce_data() {
        QTest::addColumn<bool>("sending");
        QTest::newRow("idle") << false;
        QTest::newRow("during a send") << true;
    }
    void aLostDeviceEndsTheConnectionOnce() {
        QFETCH(bool, sending);
        const auto port = farEnd->links.parallelPort("LPT1");
        Form9->BitBtn1->click();
        QVERIFY(LinkState.ParallelConnected);
        Messages::Recorder recorder;
        const QByteArray file(400, 'x');
        std::copy(file.cbegin(), file.cend(), LoadedFile.FileBuffer.begin());
        LoadedFile.FileSize = int(file.size());
        LoadedFile.FileLoaded = true;
        if (sending) {
            QTimer::singleShot(150, [&] { port->setLost(true); });
            SendLoadedFile();
            QVERIFY(farEnd->received.size() < file.size());
        } else {
            port->setLost(true);
        }
        QTRY_VERIFY(!LinkState.ParallelConnected);
        QTest::qWait(900);
        QCOMPARE(recorder.entries,
                 (QList<Entry>{{Messages::Form::Warning, "ATENÇÃO",
                                "A conexão com a porta paralela LPT1 foi perdida - verifique o "
                                "cabo ou o adaptador e conecte novamente"}}));
        verifySerialIndicators();
        QVERIFY(!Form1->PortIO1->ActiveHW());
        QCOMPARE(port.use_count(), 2);

        port->setLost(false);
        Form9->BitBtn1->click();
        QVERIFY(LinkState.ParallelConnected);
        QCOMPARE(recorder.entries.size(), 1);
    }

    void aDriverThatCannotOpenChangesNothing_data() {
        QTest::addColumn<QString>("lpt1");
        QTest::addColumn<QString>("lpt2");
        QTest::addColumn<int>("pick");
        QTest::addColumn<QString>("cause"); // the second line: what the picked device shows
        QTest::newRow("no port at all")
            << "/nonexistent/lpt-a"
            << "/nonexistent/lpt-b" << 0 << "/nonexistent/lpt-a: dispositivo não encontrado";
        QTest::newRow("the picked port missing")
            << "virtual"
            << "/nonexistent/lpt-b" << 1 << "/nonexistent/lpt-b: dispositivo não encontrado";
        QTest::newRow("the picked port not a parallel port")
            << "virtual"
            << "/dev/null" << 1 << "/dev/null: não é uma porta paralela";
    }
    void aDriverThatCannotOpenChangesNothing() {
        QFETCH(QString, lpt1);
        QFETCH(QString, lpt2);
        QFETCH(int, pick);
        QFETCH(QString, cause);
        LptMap::map(QStringLiteral("LPT1"), lpt1);
        LptMap::map(QStringLiteral("LPT2"), lpt2);
        Form9->RadioGroup1->Item(pick)->click();
        Form9->CheckBox2->setChecked(true);
        const QString caption = Form9->BitBtn1->text();
        Messages::Recorder recorder;

        Form9->BitBtn1->click();
        QCOMPARE(recorder.entries,
                 (QList<Entry>{{Messages::Form::Warning, "ATENÇÃO", DriverError + "\n" + cause}}));
        QVERIFY(!LinkState.ParallelConnected);
        QCOMPARE(LinkState.LptBasePort, 0x378);
        QVERIFY(!LinkState.CompatibleMode);
        QVERIFY(!Form1->PortIO1->ActiveHW());
        QCOMPARE(Form9->BitBtn1->text(), caption);
        QVERIFY(Form9->RadioGroup1->isEnabled());
        verifySerialIndicators();
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    createForms();
    wireLinkDevices();
    ParallelConnectionTest test;
    const int result = QTest::qExec(&test, argc, argv);
    unwireLinkDevices();
    destroyForms();
    return result;
}

#include "tst_parallelconnection.moc"
