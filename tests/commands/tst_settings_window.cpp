// The direct commands of the main window and the eight setting dialogs as the
// operator uses them: the real windows and handlers, ComPort1 on a virtual
// line and PortIO1 on virtual parallel ports, the virtual printer at the far
// end telling what each command did. Pauses are recorded, not slept.
#include "app/Application.h"
#include "app/Form1.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "app/Messages.h"
#include "commands/Form11.h"
#include "commands/Form12.h"
#include "commands/Form14.h"
#include "commands/Form15.h"
#include "commands/Form16.h"
#include "commands/Form6.h"
#include "commands/Form7.h"
#include "commands/Form8.h"
#include "link/Disconnect.h"
#include "link/FarEnd.h"
#include "link/Form3.h"
#include "link/Form9.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "link/RadioGroupWidget.h"
#include "link/comport/ComPort.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>
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

struct Row {
    const char* name;
    QWidget* dialog; // null for the main window's direct commands
    std::function<void()> act;
    const char* hex;
    const char* logged; // what the printer's log says it did
    Pacing pacing;
    bool compatible = false;
};

void choose(TRadioGroup* group, int index) {
    group->SetItemIndex(index);
}

// Opens a dialog from the main menu, makes the choices, presses send.
std::function<void()> dialogSend(QAction* menuItem, std::function<void()> choices,
                                 QPushButton* send) {
    return [=] {
        menuItem->trigger();
        choices();
        send->click();
    };
}

std::function<void()> typeAndSend(QAction* menuItem, QLineEdit* edit, const QString& text,
                                  QPushButton* send) {
    return dialogSend(
        menuItem, [=] { edit->setText(text); }, send);
}

std::vector<Row> makeRows() {
    const Pacing plain, overridden{{}, 0, 0, true};
    auto* F1 = Form1;
    const auto form6 = [F1](int mode, int variant) {
        return dialogSend(
            F1->ProgramaImpresso1,
            [=] {
                choose(Form6->RadioGroup1, 1);
                choose(Form6->RadioGroup2, variant);
                choose(Form6->RadioGroup1, mode);
            },
            Form6->BitBtn1);
    };
    const auto radio = [](QAction* item, TRadioGroup* group, int index, QPushButton* send) {
        return dialogSend(
            item, [=] { choose(group, index); }, send);
    };
    const auto auth = [F1](int device, const QString& text) {
        return dialogSend(
            F1->Autenticao2,
            [=] {
                choose(Form8->RadioGroup1, device);
                Form8->Edit1->setText(text);
            },
            Form8->BitBtn1);
    };
    const auto page = [F1](const char* text) {
        return typeAndSend(F1->Pagina1, Form11->Edit1, QString::fromUtf8(text), Form11->BitBtn1);
    };
    const auto feed = [F1](const char* text) {
        return typeAndSend(F1->AvancodeLinhas1, Form15->Edit1, QString::fromUtf8(text),
                           Form15->BitBtn1);
    };
    return {
        {"menu Reset", nullptr, [F1] { F1->Reset1->trigger(); }, "1b 40", "Reset", {{"10"}}},
        {"button Reset",
         nullptr,
         [F1] { F1->BitBtn4->click(); },
         "1b 40",
         "Reset",
         {{"5"}, 0, 0, true}},
        {"Gaveta",
         nullptr,
         [F1] { F1->Gaveta1->trigger(); },
         "1b 70 00 0a 0a",
         "Gaveta (saída 0, pulso 10/10)",
         {{}, 1}},
        {"Gaveta, compatible",
         nullptr,
         [F1] { F1->Gaveta1->trigger(); },
         "1b 76 64",
         "Gaveta (pulso 100)",
         {{}, 1},
         true},
        {"Modo Dump", nullptr, [F1] { F1->N1->trigger(); }, "1b 78", "Modo dump ligado", plain},
        {"print mode Normal", Form6, form6(0, 1), "1b 4d", "Modo normal", plain},
        {"Expandido Normal", Form6, form6(1, 0), "1b 57 30", "Modo expandido normal", plain},
        {"Expandido Negrito", Form6, form6(1, 1), "1b 57 31", "Modo expandido negrito", plain},
        {"Enfatizado after Expandido", Form6, form6(2, 1), "1b 45", "Modo enfatizado", plain},
        {"RTS On/Off Line", Form7, radio(F1->Autenticao1, Form7->RadioGroup1, 0, Form7->BitBtn1),
         "1b 7e 00", "Sinalização do RTS: on/off-line", overridden},
        {"RTS Autenticação", Form7, radio(F1->Autenticao1, Form7->RadioGroup1, 1, Form7->BitBtn1),
         "1b 7e 01", "Sinalização do RTS: autenticação", overridden},
        {"authentication Título e Fita Detalhe",
         Form8,
         auth(1, "x"),
         "1b 63 01 78 0a",
         "Autenticação: Título e Fita Detalhe",
         {{"10"}, 1}},
        {"authentication outside Windows-1252",
         Form8,
         auth(2, QStringLiteral("Ω€")),
         "1b 63 02 3f 80 0a",
         "Autenticação: Título e Documento",
         {{"10"}, 1}},
        {"empty authentication",
         Form8,
         auth(2, ""),
         "1b 63 02 0a",
         "Autenticação: Título e Documento",
         {{"10"}, 1}},
        {"page size 1", Form11, page("1"), "1b 64 01", "Página de 1 linha", overridden},
        {"page size 39", Form11, page("39"), "1b 64 27", "Página de 39 linhas", overridden},
        {"page size 40", Form11, page("40"), "1b 64 1e", "Página de 30 linhas", overridden},
        {"page size 0", Form11, page("0"), "1b 64 1e", "Página de 30 linhas", overridden},
        {"page size -5", Form11, page("-5"), "1b 64 1e", "Página de 30 linhas", overridden},
        {"page size x", Form11, page("x"), "1b 64 1e", "Página de 30 linhas", overridden},
        {"page size empty", Form11, page(""), "1b 64 1e", "Página de 30 linhas", overridden},
        {"40 Carac.", Form12, radio(F1->N4048Caracteres1, Form12->RadioGroup1, 0, Form12->BitBtn1),
         "1b 50 30", "40 caracteres por linha", plain},
        {"48 Carac.", Form12, radio(F1->N4048Caracteres1, Form12->RadioGroup1, 1, Form12->BitBtn1),
         "1b 50 31", "48 caracteres por linha", plain},
        {"60 Carac.", Form12, radio(F1->N4048Caracteres1, Form12->RadioGroup1, 2, Form12->BitBtn1),
         "1b 50 32", "60 caracteres por linha", plain},
        {"paper sensor Desligado",
         Form14,
         [F1] {
             F1->SensorPapel1->trigger();
             choose(Form14->RadioGroup1, 1);
         },
         "1b 38",
         "Sensor de papel desligado",
         {{}, 0, 200}},
        {"line feeds 00", Form15, feed("00"), "1b 61 00", "Avanço de 0 linhas", plain},
        {"line feeds -1", Form15, feed("-1"), "1b 61 ff", "Avanço de 255 linhas", plain},
        {"line feeds 12, compatible", Form15, feed("12"), "1b 66 01 0c", "Avanço de 12 linhas",
         plain, true},
        {"keyboard Ligado", Form16, radio(F1->Teclado1, Form16->RadioGroup1, 0, Form16->BitBtn1),
         "1b 79 01", "Teclado ligado", plain},
        {"keyboard Desligado", Form16, radio(F1->Teclado1, Form16->RadioGroup1, 1, Form16->BitBtn1),
         "1b 79 00", "Teclado desligado", plain},
    };
}

const std::vector<Row>& rows() {
    static const std::vector<Row> all = makeRows();
    return all;
}

const Row& row(const char* name) {
    for (const Row& r : rows())
        if (qstrcmp(r.name, name) == 0)
            return r;
    qFatal("no row %s", name);
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

QList<QWidget*> settingDialogs() {
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
        if (parallel) {
            Form9->CheckBox2->setChecked(compatible);
            Form9->BitBtn1->click();
            QVERIFY(LinkState.ParallelConnected);
        } else {
            Form3->BitBtn2->click();
            QVERIFY(LinkState.SerialConnected);
        }
        QCOMPARE(LinkState.CompatibleMode, compatible);
        farEnd->received.clear();
        pauses.clear();
        printerLog.clear();
    }

    static void addInterfaceRows() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("parallel");
        for (int i = 0; i < int(rows().size()); ++i)
            for (const bool parallel : {false, true})
                QTest::addRow("%s, %s", rows()[i].name, parallel ? "parallel" : "serial")
                    << i << parallel;
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
        Messages::Recorder quiet; // no interface: the sensor's selection sends nothing
        choose(Form14->RadioGroup1, 0);
        for (QWidget* dialog : settingDialogs())
            dialog->hide();
    }

    // Runs first: the dialogs are as they were made.
    void anUntouchedDialogSendsItsFirstChoices_data() {
        QTest::addColumn<QPushButton*>("send");
        QTest::addColumn<QByteArray>("hex");
        QTest::newRow("print mode") << Form6->BitBtn1 << QByteArray("1b 4d");
        QTest::newRow("RTS") << Form7->BitBtn1 << QByteArray("1b 7e 00");
        QTest::newRow("authentication, which stays open")
            << Form8->BitBtn1
            << QByteArray("1b 63 00 a2 a5 2b 20 50 61 67 6f 20 30 31 2f 30 31 2f 32 30 30 31 0a");
        QTest::newRow("page size") << Form11->BitBtn1 << QByteArray("1b 64 01");
        QTest::newRow("characters per line") << Form12->BitBtn1 << QByteArray("1b 50 30");
        QTest::newRow("line feeds") << Form15->BitBtn1 << QByteArray("1b 61 00");
        QTest::newRow("keyboard") << Form16->BitBtn1 << QByteArray("1b 79 01");
    }
    void anUntouchedDialogSendsItsFirstChoices() {
        QFETCH(QPushButton*, send);
        QFETCH(QByteArray, hex);
        connectTo(false, false);
        auto* dialog = send->window();
        static_cast<TFormBase*>(dialog)->showForm();
        send->click();
        QCOMPARE(farEnd->received.toHex(' '), hex);
        QCOMPARE(dialog->isVisible(), dialog == Form8);
        QVERIFY(!Form6->RadioGroup2->isVisible());
        QCOMPARE(Form14->RadioGroup1->ItemIndex(), 0);
        QCOMPARE(Form8->Edit1->maxLength(), 40);
        QCOMPARE(Form11->Edit1->maxLength(), 2);
        QCOMPARE(Form15->Edit1->maxLength(), 2);
        QVERIFY(Form8->Edit1->toolTip().startsWith("Digite texto da autenticação"));
    }

    void everyCommandReachesThePrinter_data() { addInterfaceRows(); }
    void everyCommandReachesThePrinter() {
        QFETCH(int, index);
        QFETCH(bool, parallel);
        const Row& r = rows()[index];
        connectTo(parallel, r.compatible);
        Messages::Recorder recorder;
        r.act();
        QCOMPARE(farEnd->received.toHex(' '), QByteArray(r.hex));
        QCOMPARE(pauses, expectedPauses(r, parallel));
        QCOMPARE(printerLog, QStringList{QString::fromUtf8(r.logged)});
        QCOMPARE(Form3->ComPort1->FlowControl().OutCTSFlow(), r.pacing.ctsOverride && !parallel);
        QVERIFY(recorder.entries.isEmpty());
        if (r.dialog)
            QCOMPARE(r.dialog->isVisible(), r.dialog == Form8);
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
        r.act();
        QCOMPARE(recorder.entries, (QList<Entry>{{Form::Warning, "ATENÇÃO", NoInterface}}));
        QVERIFY(farEnd->received.isEmpty());
        QVERIFY(pauses.isEmpty());
        if (r.dialog)
            QVERIFY(r.dialog->isVisible());
    }

    // The reset button and the drawer wait for a ready printer; the menu's
    // reset, dump mode and the dialogs send whatever CTS says.
    void onlyTwoCommandsWaitForCts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("refused");
        QTest::newRow("menu Reset") << "menu Reset" << false;
        QTest::newRow("button Reset") << "button Reset" << true;
        QTest::newRow("Gaveta") << "Gaveta" << true;
        QTest::newRow("Modo Dump") << "Modo Dump" << false;
        QTest::newRow("keyboard") << "keyboard Desligado" << false;
    }
    void onlyTwoCommandsWaitForCts() {
        QFETCH(QString, name);
        QFETCH(bool, refused);
        const Row& r = row(name.toUtf8().constData());
        connectTo(false, false);
        farEnd->printer.setOffline(true);
        QTRY_VERIFY(!LinkState.CtsActive);
        Messages::Recorder recorder;
        r.act();
        QCOMPARE(recorder.texts(), refused ? QStringList{Offline} : QStringList{});
        QCOMPARE(farEnd->received.toHex(' '), refused ? QByteArray() : QByteArray(r.hex));
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
        Form1->SensorPapel1->trigger();
        choose(Form14->RadioGroup1, 1);
        QVERIFY(!Form14->isVisible());
        QVERIFY(!farEnd->printer.paperSensor());
        Form1->SensorPapel1->trigger();
        QCOMPARE(Form14->RadioGroup1->ItemIndex(), 1);
        choose(Form14->RadioGroup1, 1); // no change: nothing sent, still open
        QVERIFY(Form14->isVisible());
        choose(Form14->RadioGroup1, 0);
        QCOMPARE(farEnd->received.toHex(' '), QByteArray("1b 38 1b 39"));
        QVERIFY(farEnd->printer.paperSensor());
    }

    void modoShowsOnlyWhileExpandidoIsSelected() {
        const QList<bool> shown{false, true, false};
        Form1->ProgramaImpresso1->trigger();
        choose(Form6->RadioGroup2, 1);
        for (const int mode : {1, 2, 1, 0}) {
            choose(Form6->RadioGroup1, mode);
            QCOMPARE(Form6->RadioGroup2->isVisible(), shown[mode]);
        }
        QCOMPARE(Form6->RadioGroup2->ItemIndex(), 1);
    }

    void closeAndEscHideWithoutSending() {
        connectTo(true, false);
        for (QWidget* dialog : settingDialogs()) {
            auto* form = static_cast<TSettingForm*>(dialog);
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
