// The direct commands of the main window and the eight setting dialogs as the
// operator uses them: the real windows and handlers, ComPort1 on a virtual
// line and PortIO1 on virtual parallel ports, the virtual printer at the far
// end telling what each command did. Pauses are recorded, not slept.
#include "app/Application.h"
#include "app/Form1.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "commands/Form11.h"
#include "commands/Form12.h"
#include "commands/Form14.h"
#include "commands/Form15.h"
#include "commands/Form16.h"
#include "commands/Form6.h"
#include "commands/Form7.h"
#include "commands/Form8.h"
#include "connection/Disconnect.h"
#include "connection/FarEnd.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "link/comport/ComPort.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <vector>

namespace {

using Entry = Messages::Recorder::Entry;
using Form = Messages::Form;

const QString NoInterface =
    QStringLiteral("Selecione Uma interface de comunicação (Serial ou Paralela)");
const QString Offline = QStringLiteral("A Impressora está fora de linha");

// The pauses a command takes besides the parallel port's 2 ms per byte.
struct Pacing {
    QStringList serial; // after the one write
    int perByte = 0;    // after each parallel byte
    int after = 0;      // after either interface
    bool ctsOverride = false;
};
const Pacing plain, overridden{{}, 0, 0, true}, drawer{{}, 1}, authentication{{"10"}, 1};

struct Row {
    const char* name;
    QWidget* window;
    const char* steps; // see run()
    const char* hex;
    const char* logged; // what the printer's log says it did
    Pacing pacing = plain;
    bool compatible = false;
};

// Opens a dialog and runs steps such as "RadioGroup1=2 Edit1=-5 BitBtn1" on
// it: a radio group's selection, an entry's text, a button's or a menu item's
// press.
void run(QWidget* window, const char* steps) {
    if (auto* form = qobject_cast<TFormBase*>(window))
        form->showForm();
    for (const QString& step : QString::fromUtf8(steps).split(u' ', Qt::SkipEmptyParts)) {
        const QString name = step.section(u'=', 0, 0);
        const QString value = step.section(u'=', 1);
        if (auto* group = window->findChild<TRadioGroup*>(name))
            group->SetItemIndex(value.toInt());
        else if (auto* edit = window->findChild<QLineEdit*>(name))
            edit->setText(value);
        else if (auto* button = window->findChild<QPushButton*>(name))
            button->click();
        else
            window->findChild<QAction*>(name)->trigger();
    }
}

// The dialogs keep their state, so the rows that send a dialog as it opens
// come first, and the table is the first test to run.
std::vector<Row> makeRows() {
    QWidget* F1 = Form1;
    const char* const untouchedTitle =
        "1b 63 00 a2 a5 2b 20 50 61 67 6f 20 30 31 2f 30 31 2f 32 30 30 31 0a";
    return {
        {"print mode as it opens", Form6, "BitBtn1", "1b 4d", "Modo normal"},
        {"RTS as it opens", Form7, "BitBtn1", "1b 7e 00", "Sinalização do RTS: on/off-line",
         overridden},
        {"authentication as it opens", Form8, "BitBtn1", untouchedTitle, "Autenticação: Título",
         authentication},
        {"page size as it opens", Form11, "BitBtn1", "1b 64 01", "Página de 1 linha", overridden},
        {"characters per line as they open", Form12, "BitBtn1", "1b 50 30",
         "40 caracteres por linha"},
        {"line feeds as they open", Form15, "BitBtn1", "1b 61 00", "Avanço de 0 linhas"},
        {"keyboard as it opens", Form16, "BitBtn1", "1b 79 01", "Teclado ligado"},
        {"menu Reset", F1, "Reset1", "1b 40", "Reset", {{"10"}}},
        {"button Reset", F1, "BitBtn4", "1b 40", "Reset", {{"5"}, 0, 0, true}},
        {"Gaveta", F1, "Gaveta1", "1b 70 00 0a 0a", "Gaveta (saída 0, pulso 10/10)", drawer},
        {"Gaveta, compatible", F1, "Gaveta1", "1b 76 64", "Gaveta (pulso 100)", drawer, true},
        {"Modo Dump", F1, "N1", "1b 78", "Modo dump ligado"},
        {"Expandido Normal", Form6, "RadioGroup1=1 RadioGroup2=0 BitBtn1", "1b 57 30",
         "Modo expandido normal"},
        {"Expandido Negrito", Form6, "RadioGroup1=1 RadioGroup2=1 BitBtn1", "1b 57 31",
         "Modo expandido negrito"},
        {"Enfatizado after Expandido", Form6, "RadioGroup1=1 RadioGroup1=2 BitBtn1", "1b 45",
         "Modo enfatizado"},
        {"RTS Autenticação", Form7, "RadioGroup1=1 BitBtn1", "1b 7e 01",
         "Sinalização do RTS: autenticação", overridden},
        {"Título e Fita Detalhe", Form8, "RadioGroup1=1 Edit1=x BitBtn1", "1b 63 01 78 0a",
         "Autenticação: Título e Fita Detalhe", authentication},
        {"text outside Windows-1252", Form8, "RadioGroup1=2 Edit1=Ω€ BitBtn1", "1b 63 02 3f 80 0a",
         "Autenticação: Título e Documento", authentication},
        {"empty text", Form8, "RadioGroup1=2 Edit1= BitBtn1", "1b 63 02 0a",
         "Autenticação: Título e Documento", authentication},
        {"page size 39", Form11, "Edit1=39 BitBtn1", "1b 64 27", "Página de 39 linhas", overridden},
        {"page size 40", Form11, "Edit1=40 BitBtn1", "1b 64 1e", "Página de 30 linhas", overridden},
        {"page size 0", Form11, "Edit1=0 BitBtn1", "1b 64 1e", "Página de 30 linhas", overridden},
        {"page size -5", Form11, "Edit1=-5 BitBtn1", "1b 64 1e", "Página de 30 linhas", overridden},
        {"page size x", Form11, "Edit1=x BitBtn1", "1b 64 1e", "Página de 30 linhas", overridden},
        {"page size empty", Form11, "Edit1= BitBtn1", "1b 64 1e", "Página de 30 linhas",
         overridden},
        {"48 Carac.", Form12, "RadioGroup1=1 BitBtn1", "1b 50 31", "48 caracteres por linha"},
        {"60 Carac.", Form12, "RadioGroup1=2 BitBtn1", "1b 50 32", "60 caracteres por linha"},
        {"paper sensor Desligado",
         Form14,
         "RadioGroup1=1",
         "1b 38",
         "Sensor de papel desligado",
         {{}, 0, 200}},
        {"line feeds -1", Form15, "Edit1=-1 BitBtn1", "1b 61 ff", "Avanço de 255 linhas"},
        {"line feeds 12, compatible", Form15, "Edit1=12 BitBtn1", "1b 66 01 0c",
         "Avanço de 12 linhas", plain, true},
        {"keyboard Desligado", Form16, "RadioGroup1=1 BitBtn1", "1b 79 00", "Teclado desligado"},
    };
}

const std::vector<Row>& rows() {
    static const std::vector<Row> all = makeRows();
    return all;
}

QStringList expectedPauses(const Row& row, bool parallel) {
    QStringList pauses = parallel ? QStringList() : row.pacing.serial;
    for (qsizetype i = 0; parallel && i < QByteArray::fromHex(row.hex).size(); ++i) {
        pauses << "2";
        if (row.pacing.perByte)
            pauses << QString::number(row.pacing.perByte);
    }
    if (row.pacing.after)
        pauses << QString::number(row.pacing.after);
    return pauses;
}

QList<TSettingForm*> settingDialogs() {
    return {Form6, Form7, Form8, Form11, Form12, Form14, Form15, Form16};
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FarEnd> farEnd;
    QStringList pauses;
    QStringList printerLog; // commands as the printer logs them, warnings with "! "
    LinkSleep::Sleeper realSleep;

    void connectTo(bool parallel, bool compatible) {
        farEnd->printer.setModel(compatible ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
        Form9->CheckBox2->setChecked(compatible);
        (parallel ? Form9->BitBtn1 : Form3->BitBtn2)->click();
        QVERIFY(parallel ? LinkState.ParallelConnected : LinkState.SerialConnected);
        QCOMPARE(LinkState.CompatibleMode, compatible);
        farEnd->received.clear();
        pauses.clear();
        printerLog.clear();
    }

private slots:
    void init() {
        LinkState = TLinkState{};
        farEnd = std::make_unique<FarEnd>();
        connect(&farEnd->printer, &VirtualPrinter::logged, &farEnd->context,
                [this](const PrinterLogEntry& entry) {
                    if (entry.kind == PrinterLogEntry::Kind::Command)
                        printerLog << entry.text;
                    else if (entry.kind == PrinterLogEntry::Kind::Warning)
                        printerLog << QStringLiteral("! ") + entry.text;
                });
        pauses.clear();
        realSleep = LinkSleep::setSleeper([this](int ms) { pauses << QString::number(ms); });
    }

    void cleanup() {
        disconnectBoth();
        LinkSleep::setSleeper(realSleep);
        farEnd.reset();
        LinkState = TLinkState{};
        Form3->ComPort1->FlowControl().SetOutCTSFlow(false);
        Form9->CheckBox2->setChecked(false);
        Messages::Recorder quiet; // with no interface the sensor's selection sends nothing
        Form14->RadioGroup1->SetItemIndex(0);
        for (TSettingForm* dialog : settingDialogs())
            dialog->hide();
    }

    void everyCommandReachesThePrinter_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("parallel");
        for (int i = 0; i < int(rows().size()); ++i)
            for (const bool parallel : {false, true})
                QTest::addRow("%s, %s", rows()[i].name, parallel ? "parallel" : "serial")
                    << i << parallel;
    }
    void everyCommandReachesThePrinter() {
        QFETCH(int, index);
        QFETCH(bool, parallel);
        const Row& r = rows()[index];
        connectTo(parallel, r.compatible);
        Messages::Recorder recorder;
        run(r.window, r.steps);
        QCOMPARE(farEnd->received.toHex(' '), QByteArray(r.hex));
        QCOMPARE(pauses, expectedPauses(r, parallel));
        QCOMPARE(printerLog, QStringList{QString::fromUtf8(r.logged)});
        QCOMPARE(Form3->ComPort1->FlowControl().OutCTSFlow(), r.pacing.ctsOverride && !parallel);
        QVERIFY(recorder.entries.isEmpty());
        // Only the authentication stays open for the next text.
        QCOMPARE(r.window->isVisible(), r.window == Form1 || r.window == Form8);
    }

    void withoutAnInterfaceOneWarningAndNothingElse_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(rows().size()); ++i)
            QTest::addRow("%s", rows()[i].name) << i;
    }
    void withoutAnInterfaceOneWarningAndNothingElse() {
        QFETCH(int, index);
        const Row& r = rows()[index];
        Messages::Recorder recorder;
        run(r.window, r.steps);
        QCOMPARE(recorder.entries, (QList<Entry>{{Form::Warning, "ATENÇÃO", NoInterface}}));
        QVERIFY(farEnd->received.isEmpty());
        QVERIFY(pauses.isEmpty());
        QVERIFY(r.window->isVisible());
    }

    // The reset button and the drawer wait for a ready printer; the menu's
    // reset, dump mode and the dialogs send whatever CTS says.
    void onlyTwoCommandsWaitForCts_data() {
        QTest::addColumn<QWidget*>("window");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("menu Reset") << (QWidget*)Form1 << "Reset1" << QByteArray("\x1b@");
        QTest::newRow("button Reset") << (QWidget*)Form1 << "BitBtn4" << QByteArray();
        QTest::newRow("Gaveta") << (QWidget*)Form1 << "Gaveta1" << QByteArray();
        QTest::newRow("Modo Dump") << (QWidget*)Form1 << "N1" << QByteArray("\x1bx");
        QTest::newRow("a dialog") << (QWidget*)Form16 << "RadioGroup1=0 BitBtn1"
                                  << QByteArray("\x1by\x01");
    }
    void onlyTwoCommandsWaitForCts() {
        QFETCH(QWidget*, window);
        QFETCH(QString, steps);
        QFETCH(QByteArray, sent);
        connectTo(false, false);
        farEnd->printer.setOffline(true);
        QTRY_VERIFY(!LinkState.CtsActive);
        Messages::Recorder recorder;
        run(window, steps.toUtf8().constData());
        QCOMPARE(recorder.texts(), sent.isEmpty() ? QStringList{Offline} : QStringList{});
        QCOMPARE(farEnd->received, sent);
    }

    void resetButtonLeavesCtsFlowOnAcrossAReconnect() {
        connectTo(false, false);
        Form1->BitBtn4->click();
        QVERIFY(Form3->ComPort1->FlowControl().OutCTSFlow());
        Form3->BitBtn2->click();
        QVERIFY(!LinkState.SerialConnected);
        connectTo(false, false);
        QVERIFY(Form3->ComPort1->FlowControl().OutCTSFlow());
    }

    void paperSensorSendsOnEachChangeAndKeepsItsSelection() {
        connectTo(true, false);
        run(Form1, "SensorPapel1");
        run(Form14, "RadioGroup1=1");
        QVERIFY(!Form14->isVisible());
        run(Form1, "SensorPapel1");
        QCOMPARE(Form14->RadioGroup1->ItemIndex(), 1);
        run(Form14, "RadioGroup1=1"); // no change: nothing sent, still open
        QVERIFY(Form14->isVisible());
        run(Form14, "RadioGroup1=0");
        QCOMPARE(farEnd->received.toHex(' '), QByteArray("1b 38 1b 39"));
        QVERIFY(farEnd->printer.paperSensor());
    }

    void modoShowsOnlyWhileExpandidoIsSelected() {
        const QList<bool> shown{false, true, false};
        run(Form6, "RadioGroup2=1");
        for (const int mode : {1, 2, 1, 0}) {
            Form6->RadioGroup1->SetItemIndex(mode);
            QCOMPARE(Form6->RadioGroup2->isVisible(), shown[mode]);
        }
        QCOMPARE(Form6->RadioGroup2->ItemIndex(), 1);
    }

    void closeAndEscHideWithoutSending() {
        connectTo(true, false);
        for (TSettingForm* form : settingDialogs()) {
            for (const bool escape : {false, true}) {
                form->showForm();
                if (escape)
                    QTest::keyClick(form, Qt::Key_Escape);
                else if (form->BitBtn2)
                    form->BitBtn2->click();
                else
                    form->close();
                QVERIFY2(!form->isVisible(), qPrintable(form->objectName()));
            }
        }
        QVERIFY(farEnd->received.isEmpty());
        QCOMPARE(Form8->Edit1->toolTip().left(28), QStringLiteral("Digite texto da autenticação"));
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    createForms();
    wireLinkDevices();
    SettingsWindowTest test;
    const int result = QTest::qExec(&test, argc, argv);
    unwireLinkDevices();
    destroyForms();
    return result;
}

#include "tst_settings_window.moc"
