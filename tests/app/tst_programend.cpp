#include "app/ProgramEnd.h"

#include <QTest>
#include <stdexcept>

// Ending the program, and a request made while a file send runs.
class ProgramEndTest : public QObject {
    Q_OBJECT
    int quits = 0;
    ProgramEnd::Quitter previous;

private slots:
    void init() {
        quits = 0;
        previous = ProgramEnd::setQuitter([this] { ++quits; });
    }
    void cleanup() { ProgramEnd::setQuitter(previous); }

    void endsAtOnceWhenNoSendRuns() {
        ProgramEnd::requestQuit();
        QCOMPARE(quits, 1);
        QVERIFY(!ProgramEnd::quitPending());
    }

    void requestDuringSendWaitsForTheLoopToReturn_data() {
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("loopThrows");
        QTest::newRow("one request") << 1 << false;
        QTest::newRow("asked three times") << 3 << false;
        QTest::newRow("loop left by an exception") << 1 << true;
        QTest::newRow("no request") << 0 << false;
    }
    void requestDuringSendWaitsForTheLoopToReturn() {
        QFETCH(int, requests);
        QFETCH(bool, loopThrows);
        try {
            ProgramEnd::SendScope send;
            QVERIFY(ProgramEnd::sendRunning());
            for (int i = 0; i < requests; ++i)
                ProgramEnd::requestQuit();
            QCOMPARE(quits, 0);
            QCOMPARE(ProgramEnd::quitPending(), requests > 0);
            if (loopThrows)
                throw std::runtime_error("write failed");
        } catch (const std::runtime_error&) {
        }
        QVERIFY(!ProgramEnd::sendRunning());
        QCOMPARE(quits, requests > 0 ? 1 : 0);
        QVERIFY(!ProgramEnd::quitPending());
    }

    void aSendAfterTheRequestWasHonouredDoesNotQuitAgain() {
        {
            ProgramEnd::SendScope send;
            ProgramEnd::requestQuit();
        }
        { ProgramEnd::SendScope send; }
        QCOMPARE(quits, 1);
    }
};

QTEST_GUILESS_MAIN(ProgramEndTest)
#include "tst_programend.moc"
