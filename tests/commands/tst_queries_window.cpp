// The status, model and firmware queries as the operator runs them from the
// main window: the real handlers, ComPort1 on a virtual line and PortIO1 on
// virtual parallel ports, with the virtual printer (or a stand-in) answering.
#include "app/Application.h"
#include "app/Form1.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "connection/Disconnect.h"
#include "connection/FarEnd.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "link/LinkState.h"
#include "link/comport/ComPort.h"
#include "link/comport/ComTypes.h"
#include "windowkit/Messages.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

using Entry = Messages::Recorder::Entry;
using Form = Messages::Form;

const QString SerialOnly = QStringLiteral(
    " A porta serial não está selecionada - Este comando não está disponível na Paralela");
const QString StatusError = QStringLiteral(" Erro na Leitura do Status");
const QString ModelError = QStringLiteral(" Erro na Leitura do modelo da impressora");

// Runs a query the way the operator does: the button or the menu item.
void ask(const QString& query) {
    if (query == "status")
        Form1->BitBtn2->click();
    else if (query == "model")
        Form1->Impressora1->trigger();
    else
        Form1->Firmware1->trigger();
}

QByteArray request(const QString& query) {
    if (query == "status")
        return "\x1bv";
    return query == "model" ? "\x1bI1" : "\x1bI0";
}

} // namespace

class QueriesWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FarEnd> farEnd;

    void connectSerial() {
        Form3->BitBtn2->click();
        QVERIFY(LinkState.SerialConnected);
        farEnd->received.clear();
    }

private slots:
    void initTestCase() { scaleDownReadTimeouts(*Form3->ComPort1); }

    void init() {
        LinkState = TLinkState{};
        farEnd = std::make_unique<FarEnd>();
    }

    void cleanup() {
        disconnectBoth();
        farEnd.reset();
        LinkState = TLinkState{};
    }

    void eachQueryShowsThePrintersText_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("shown");
        QTest::newRow("status") << "status"
                                << "PLF110VN";
        QTest::newRow("model") << "model" << QString::fromLatin1(VirtualPrinter::DualModelName);
        QTest::newRow("firmware") << "firmware"
                                  << QString::fromLatin1(VirtualPrinter::FirmwareName);
    }
    void eachQueryShowsThePrintersText() {
        QFETCH(QString, query);
        QFETCH(QString, shown);
        connectSerial();
        Messages::Recorder recorder;
        ask(query);
        QCOMPARE(farEnd->received, request(query));
        QCOMPARE(recorder.entries, (QList<Entry>{{Form::Plain, "Tellumo", shown}}));
    }

    void theStatusTextFollowsThePrinter() {
        connectSerial();
        farEnd->printer.setPaperOut(true);
        Messages::Recorder recorder;
        ask("status");
        QCOMPARE(recorder.texts(), QStringList{"SLF110VN"});
    }

    void whatTheStandInAnswersIsShown_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("status, short") << "status" << QByteArray("\x06PLF11") << StatusError;
        QTest::newRow("status, silent") << "status" << QByteArray() << StatusError;
        QTest::newRow("model, short") << "model" << QByteArray("\x06Korvex BM  40/4") << ModelError;
        QTest::newRow("firmware, short") << "firmware" << QByteArray("\x06") << ModelError;
        QTest::newRow("Windows-1252 text, ended by a zero") << "firmware"
                                                            << QByteArray("\x06Impress\xE3o \xA7"
                                                                          "1\0xxxxxx",
                                                                          17)
                                                            << QStringLiteral("Impressão §1");
        QTest::newRow("first text byte zero")
            << "status" << QByteArray("\x06\0ABCDEFG", 9) << QString();
    }
    void whatTheStandInAnswersIsShown() {
        QFETCH(QString, query);
        QFETCH(QByteArray, reply);
        QFETCH(QString, shown);
        farEnd->script(reply);
        connectSerial();
        Messages::Recorder recorder;
        ask(query);
        QCOMPARE(farEnd->received, request(query));
        QCOMPARE(recorder.entries, (QList<Entry>{{Form::Plain, "Tellumo", shown}}));
    }

    // A query holds the program for up to its read time-out.
    void theWaitCursorShowsWhileAReplyIsAwaited_data() {
        QTest::addColumn<QString>("query"); // "probe": the model probe at connect
        for (const char* query : {"status", "firmware", "probe"})
            QTest::newRow(query) << QString::fromLatin1(query);
    }
    void theWaitCursorShowsWhileAReplyIsAwaited() {
        QFETCH(QString, query);
        if (query != "probe")
            connectSerial();
        QList<int> shapes; // the cursor each time the printer got bytes
        connect(&farEnd->printer, &VirtualPrinter::logged, &farEnd->context,
                [&](const PrinterLogEntry& entry) {
                    if (entry.kind == PrinterLogEntry::Kind::Received)
                        shapes << (QApplication::overrideCursor()
                                       ? int(QApplication::overrideCursor()->shape())
                                       : -1);
                });
        Messages::Recorder recorder;
        if (query == "probe")
            Form3->BitBtn2->click();
        else
            ask(query);
        QVERIFY(!shapes.isEmpty());
        QCOMPARE(shapes, QList<int>(shapes.size(), Qt::WaitCursor));
        QVERIFY(!QApplication::overrideCursor());
    }

    void aFailedReadGoesToTheExceptionDisplay() {
        const auto line = farEnd->script(QByteArray());
        connectSerial();
        line->failReads(5);
        Messages::Recorder recorder;
        ask("model");
        QCOMPARE(recorder.entries.size(), 1);
        QCOMPARE(recorder.entries[0].form, Form::Exception);
        QCOMPARE(recorder.entries[0].text, Messages::exceptionText(EComPort(3, 5).Message()));
    }

    void withoutTheSerialPortNothingIsSent_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("parallel");
        for (const char* query : {"status", "model", "firmware"}) {
            QTest::addRow("%s, parallel connected", query) << query << true;
            QTest::addRow("%s, nothing connected", query) << query << false;
        }
    }
    void withoutTheSerialPortNothingIsSent() {
        QFETCH(QString, query);
        QFETCH(bool, parallel);
        const auto lpt1 = farEnd->links.parallelPort("LPT1");
        if (parallel) {
            Form9->BitBtn1->click();
            QVERIFY(LinkState.ParallelConnected);
        }
        lpt1->setRecording(true);
        lpt1->clearAccesses();
        Messages::Recorder recorder;
        ask(query);
        QCOMPARE(recorder.entries, (QList<Entry>{{Form::Plain, "Tellumo", SerialOnly}}));
        QVERIFY(lpt1->accesses().isEmpty());
        QVERIFY(farEnd->received.isEmpty());
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    createForms();
    wireLinkDevices();
    QueriesWindowTest test;
    const int result = QTest::qExec(&test, argc, argv);
    unwireLinkDevices();
    destroyForms();
    return result;
}

#include "tst_queries_window.moc"
