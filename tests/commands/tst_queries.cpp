#include "FakeLink.h"
#include "commands/QueryProcedure.h"
#include "windowkit/Messages.h"

#include <QTest>

using Commands::Query;
using Outcome = Commands::QueryResult::Outcome;

Q_DECLARE_METATYPE(Commands::Query)
Q_DECLARE_METATYPE(Commands::QueryResult::Outcome)

namespace {
const QString SerialOnly = QStringLiteral(
    " A porta serial não está selecionada - Este comando não está disponível na Paralela");

QByteArray statusReply(const char* text) {
    return QByteArray(1, '\x05') + QByteArray(text);
}
} // namespace

class QueriesTest : public QObject {
    Q_OBJECT
private slots:
    void queryWritesReadsAndDecodes_data() {
        QTest::addColumn<Query>("query");
        QTest::addColumn<bool>("compatible");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("lost");
        const QByteArray model = QByteArray("\x01") + "Korvex BM  40/48";
        QTest::newRow("status normal")
            << Query::Status << false << statusReply("ABCDEFGH")
            << QStringList{"clear input", "write 1b 76", "sleep 5", "read 9"} << Outcome::Answered
            << "ABCDEFGH" << false;
        QTest::newRow("status compatible, short reply")
            << Query::Status << true << statusReply("OK")
            << QStringList{"clear input", "write 1b 56", "sleep 5", "read 9"} << Outcome::ReadFailed
            << "" << false;
        QTest::newRow("model") << Query::Model << false << model
                               << QStringList{"clear input", "write 1b 49 31", "read 17"}
                               << Outcome::Answered << "Korvex BM  40/48" << false;
        QTest::newRow("firmware short") << Query::Firmware << true << model.left(16)
                                        << QStringList{"clear input", "write 1b 49 30", "read 17"}
                                        << Outcome::ReadFailed << "" << false;
        QTest::newRow("status with ANSI text")
            << Query::Status << false
            << QByteArray("\x05\xA2\xE7"
                          "\0xxxxx",
                          9)
            << QStringList{"clear input", "write 1b 76", "sleep 5", "read 9"} << Outcome::Answered
            << QStringLiteral("¢ç") << false;
        // Lost while the request went out: the lost-line box has said it all.
        QTest::newRow("status, the line lost meanwhile")
            << Query::Status << false << statusReply("ABCDEFGH")
            << QStringList{"clear input", "write 1b 76"} << Outcome::Lost << "" << true;
    }
    void queryWritesReadsAndDecodes() {
        QFETCH(Query, query);
        QFETCH(bool, compatible);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, log);
        QFETCH(Outcome, outcome);
        QFETCH(QString, text);
        QFETCH(bool, lost);
        FakeLink link;
        Messages::Recorder messages;
        link.connectSerial(false); // queries do not look at CTS
        link.serial.loseOnWrite = lost;
        LinkState.CompatibleMode = compatible;
        link.serial.replies << reply;

        const Commands::QueryResult result = Commands::runQuery(query, SerialOnly);

        QCOMPARE(link.log, log);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.shownText(), text);
        QVERIFY(messages.entries.isEmpty());
    }

    void queriesNeedTheSerialInterface_data() {
        QTest::addColumn<Query>("query");
        QTest::addColumn<bool>("parallel");
        QTest::newRow("status, parallel") << Query::Status << true;
        QTest::newRow("model, parallel") << Query::Model << true;
        QTest::newRow("firmware, none") << Query::Firmware << false;
    }
    void queriesNeedTheSerialInterface() {
        QFETCH(Query, query);
        QFETCH(bool, parallel);
        FakeLink link;
        Messages::Recorder messages;
        if (parallel)
            link.connectParallel();

        const Commands::QueryResult result = Commands::runQuery(query, SerialOnly);

        QCOMPARE(result.outcome, Outcome::NotSerial);
        QVERIFY(link.log.isEmpty());
        QCOMPARE(messages.entries,
                 (QList<Messages::Recorder::Entry>{
                     {Messages::Form::Plain, QStringLiteral("Tellumo"), SerialOnly}}));
    }

    void aSurplusReplyByteDoesNotReachTheNextQuery() {
        FakeLink link;
        link.connectSerial();
        // The first answer carries one byte too many; the second is in time.
        link.serial.replies << statusReply("ABCDEFGHZ") << statusReply("12345678");

        QCOMPARE(Commands::runQuery(Query::Status, SerialOnly).text, QByteArray("ABCDEFGH"));
        const Commands::QueryResult second = Commands::runQuery(Query::Status, SerialOnly);

        QCOMPARE(second.outcome, Outcome::Answered);
        QCOMPARE(second.text, QByteArray("12345678"));
    }

    void aLateReplyDoesNotReachTheNextQuery() {
        FakeLink link;
        link.connectSerial();
        link.serial.replies << QByteArray("\x01Korv");
        QCOMPARE(Commands::runQuery(Query::Model, SerialOnly).outcome, Outcome::ReadFailed);
        // The rest of the slow answer arrives after the read gave up.
        link.serial.input += "ex BM  40/48";
        link.serial.replies << QByteArray("\x01") + "Firmware 1.02.07";

        const Commands::QueryResult firmware = Commands::runQuery(Query::Firmware, SerialOnly);

        QCOMPARE(firmware.outcome, Outcome::Answered);
        QCOMPARE(firmware.text, QByteArray("Firmware 1.02.07"));
    }
};

QTEST_GUILESS_MAIN(QueriesTest)
#include "tst_queries.moc"
