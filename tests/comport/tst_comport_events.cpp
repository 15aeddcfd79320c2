#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/comport/lines/virtual/VirtualLine.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <thread>

namespace {
const QString portName = QStringLiteral("COM2");

int raisedCode(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const EComPort& e) {
        return e.ErrorCode();
    }
    return 0;
}
} // namespace

class ComPortEventsTest : public QObject {
    Q_OBJECT
    std::shared_ptr<VirtualLine> line;
    std::unique_ptr<TComPort> port;

    void open() {
        port->SetPort(portName);
        port->Open();
    }

private slots:
    void init() {
        line = VirtualLine::create();
        PortMap::map(portName, QString::fromLatin1(PortMap::VirtualDevice));
        PortMap::setVirtualLineProvider([this](const QString&) { return line; });
        port = std::make_unique<TComPort>();
    }
    void cleanup() {
        // The handlers capture the test's locals; closing must not call them.
        port->OnBeforeOpen = port->OnAfterOpen = port->OnBeforeClose = port->OnAfterClose = {};
        port->OnTxEmpty = port->OnBreak = port->OnRing = port->OnRxFlag = port->OnRx80Full = {};
        port->OnCTSChange = port->OnDSRChange = port->OnRLSDChange = {};
        port->OnRxChar = {};
        port->OnRxBuf = {};
        port->OnError = {};
        port.reset();
        PortMap::setVirtualLineProvider({});
        PortMap::reset();
        SetComExceptionHook({});
    }

    void batchRunsInTheFixedOrder_data() {
        QTest::addColumn<int>("sync");
        QTest::newRow("thread sync") << int(smThreadSync);
        QTest::newRow("window sync") << int(smWindowSync);
    }
    void batchRunsInTheFixedOrder() {
        QFETCH(int, sync);
        port->SetSyncMethod(TSyncMethod(sync));
        QStringList order;
        bool offGuiThread = false;
        auto note = [&](const char* what) {
            order << QString::fromLatin1(what);
            offGuiThread |= QThread::currentThread() != thread();
        };
        port->OnRing = [&](TCustomComPort* p) {
            note("ring");
            // The event thread waits for this handler, so everything raised
            // now reaches the port as one batch.
            line->setCTS(false);
            line->send("abc");
            line->raiseErrors({ceFrame});
            p->Write("x", 1);
        };
        port->OnError = [&](TCustomComPort*, TComErrors e) {
            QCOMPARE(e, TComErrors{ceFrame});
            note("error");
        };
        port->OnRxChar = [&](TCustomComPort*, int count) {
            QCOMPARE(count, 3);
            note("rxchar");
        };
        port->OnTxEmpty = [&](TCustomComPort*) { note("txempty"); };
        open();
        port->OnCTSChange = [&](TCustomComPort*, bool on) {
            QVERIFY(!on);
            note("cts");
        };
        line->ring();
        QTRY_COMPARE(order.size(), 5);
        QCOMPARE(order, (QStringList{"ring", "error", "rxchar", "txempty", "cts"}));
        QVERIFY(!offGuiThread);
    }

    void withoutSyncHandlersRunOnTheEventThread() {
        port->SetSyncMethod(smNone);
        std::atomic<int> count{0};
        std::atomic<bool> onGui{false};
        QThread* gui = QThread::currentThread();
        port->OnRxChar = [&](TCustomComPort*, int n) {
            onGui = QThread::currentThread() == gui;
            count = n;
        };
        open();
        line->send("hello");
        // No event processing here: the handler must run all the same.
        for (int i = 0; i < 500 && count == 0; ++i)
            QThread::msleep(2);
        QCOMPARE(count.load(), 5);
        QVERIFY(!onGui);
    }

    void linksAreToldBeforeTheHandler() {
        QStringList order;
        TComLink link;
        link.OnConn = [&](TCustomComPort*, bool on) { order << (on ? "link open" : "link close"); };
        link.OnCTSChange = [&](TCustomComPort*, bool on) {
            order << (on ? "link cts on" : "link cts off");
        };
        link.OnTx = [&](TCustomComPort*, bool on) { order << (on ? "link tx on" : "link tx off"); };
        link.OnTxEmpty = [&](TCustomComPort*) { order << "link txempty"; };
        port->RegisterLink(&link);
        port->OnAfterOpen = [&](TCustomComPort*) { order << "open"; };
        port->OnCTSChange = [&](TCustomComPort*, bool on) { order << (on ? "cts on" : "cts off"); };
        port->OnTxEmpty = [&](TCustomComPort*) { order << "txempty"; };
        port->OnAfterClose = [&](TCustomComPort*) { order << "close"; };
        open();
        QCOMPARE(order, (QStringList{"link open", "open", "link cts on", "cts on"}));
        order.clear();
        line->setCTS(false);
        QTRY_COMPARE(order, (QStringList{"link cts off", "cts off"}));
        order.clear();
        port->Write("ab", 2);
        QTRY_COMPARE(order, (QStringList{"link tx on", "link tx off", "link txempty", "txempty"}));
        order.clear();
        port->Close();
        QCOMPARE(order, (QStringList{"link cts off", "cts off", "link close", "close"}));
        port->UnRegisterLink(&link);
    }

    void transmitterEmptyOncePerDrainedWrite() {
        int empties = 0;
        port->OnTxEmpty = [&](TCustomComPort*) { ++empties; };
        open();
        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(port->Write("0123456789", 10), 10);
            QTRY_COMPARE(empties, i);
        }
        QTest::qWait(30);
        QCOMPARE(empties, 3);
        QCOMPARE(line->takeArrived(), QByteArray("012345678901234567890123456789"));
        // Nothing written, nothing to report.
        QCOMPARE(port->Write("", 0), 0);
        QTest::qWait(30);
        QCOMPARE(empties, 3);
    }

    void bytesTakeTenBitTimes() {
        open();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(port->Write(QByteArray(96, 'x').constData(), 96), 96);
        // 96 bytes of 10 bits at 9600 bit/s are 100 ms on the line.
        QVERIFY2(clock.elapsed() >= 99, qPrintable(QString::number(clock.elapsed())));
    }

    void heldWriteDropsItsBytesAtTheWriteTimeout_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("multiplier");
        QTest::addColumn<int>("constant");
        QTest::newRow("constant only") << 10 << 0 << 80;
        QTest::newRow("per byte") << 20 << 5 << 20;
        QTest::newRow("more than 255 bytes") << 300 << 1 << 10;
    }
    void heldWriteDropsItsBytesAtTheWriteTimeout() {
        QFETCH(int, count);
        QFETCH(int, multiplier);
        QFETCH(int, constant);
        int empties = 0;
        port->OnTxEmpty = [&](TCustomComPort*) { ++empties; };
        port->FlowControl().SetOutCTSFlow(true);
        port->Timeouts().SetWriteTotalMultiplier(multiplier);
        port->Timeouts().SetWriteTotalConstant(constant);
        line->setCTS(false);
        open();
        const QByteArray data(count, 'y');
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(port->Write(data.constData(), count), 0);
        const qint64 expected = qint64(multiplier) * count + constant;
        QVERIFY2(clock.elapsed() >= expected && clock.elapsed() < expected + 150,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(line->takeArrived(), QByteArray());
        QTRY_COMPARE(empties, 1);
        // The dropped bytes do not go out later when CTS comes back.
        line->setCTS(true);
        QTest::qWait(20);
        QCOMPARE(line->takeArrived(), QByteArray());
    }

    void heldBytesLeaveWhenCtsComesBack() {
        // A far end on the GUI thread: it is called while the write is held
        // and raises CTS after a while, as a printer emptying its buffer.
        QObject printer;
        QByteArray got;
        QElapsedTimer held;
        line->setReceiver(&printer, [&](const QByteArray& bytes) {
            got += bytes;
            if (!line->cts() && held.elapsed() >= 40)
                line->setCTS(true);
        });
        port->FlowControl().SetOutCTSFlow(true);
        line->setCTS(false);
        open();
        held.start();
        QCOMPARE(port->Write("ready", 5), 5);
        QVERIFY(held.elapsed() >= 40);
        QCOMPARE(got, QByteArray("ready"));
    }

    void unreadBytesStayForTheNextRead() {
        int announced = 0;
        port->OnRxChar = [&](TCustomComPort*, int count) { announced = count; };
        open();
        line->send("reply");
        QTRY_COMPARE(announced, 5);
        QCOMPARE(port->InputCount(), 5);
        char buffer[8] = {};
        QCOMPARE(port->Read(buffer, 5), 5);
        QCOMPARE(QByteArray(buffer, 5), QByteArray("reply"));
        QCOMPARE(port->InputCount(), 0);
    }

    void handlerExceptionsGoToTheHookAndEventsGoOn() {
        QStringList shown;
        SetComExceptionHook([&](const std::exception& e) {
            QCOMPARE(QThread::currentThread(), thread());
            shown << QString::fromUtf8(e.what());
        });
        int received = 0;
        port->OnRxChar = [&](TCustomComPort*, int) {
            if (++received == 1)
                throw std::runtime_error("handler failed");
        };
        bool emptied = false;
        port->OnTxEmpty = [&](TCustomComPort*) { emptied = true; };
        open();
        line->send("a");
        QTRY_COMPARE(received, 1);
        QCOMPARE(shown, QStringList{"handler failed"});
        line->send("b");
        QTRY_COMPARE(received, 2);
        port->Write("z", 1);
        QTRY_VERIFY(emptied);
        QCOMPARE(shown.size(), 1);
    }

    void closeFromAHandlerDoesNotDeadlock() {
        bool closedInside = false;
        int afterClose = 0;
        port->OnRxChar = [&](TCustomComPort* p, int) {
            p->Close();
            closedInside = !p->Connected();
        };
        // In the same batch as the received bytes, after them: must not run.
        port->OnTxEmpty = [&](TCustomComPort*) { ++afterClose; };
        open();
        line->send("x");
        QTRY_VERIFY(closedInside);
        QTest::qWait(20);
        QCOMPARE(afterClose, 0);
        QVERIFY(!line->isOpen());
    }

    void closeWithAHandOverInFlight() {
        int handled = 0;
        port->OnRxChar = [&](TCustomComPort*, int) { ++handled; };
        open();
        line->send("x");
        // The event thread is now waiting for the GUI thread, which has not
        // looked at its events; Close must still finish, and the stale batch
        // must not run after it.
        QThread::msleep(20);
        port->Close();
        QVERIFY(!port->Connected());
        QTest::qWait(20);
        QCOMPARE(handled, 0);
    }

    void unplugIsOneErrorAndThenWritesFail() {
        QList<TComErrors> errors;
        QList<bool> cts;
        port->OnError = [&](TCustomComPort*, TComErrors e) { errors << e; };
        open();
        port->OnCTSChange = [&](TCustomComPort*, bool on) { cts << on; };
        line->unplug();
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first(), TComErrors{ceIO});
        QCOMPARE(cts, QList<bool>{false});
        QCOMPARE(raisedCode([&] { port->Write("a", 1); }), 2);
        try {
            port->Write("a", 1);
        } catch (const EComPort& e) {
            QCOMPARE(e.SystemErrorCode(), 1117);
        }
        QCOMPARE(raisedCode([&] { port->Read(nullptr, 0); }), 3);
        line->setCTS(false);
        line->send("late");
        QTest::qWait(30);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(cts.size(), 1);
        port->Close();
        QVERIFY(!port->Connected());
        // Still unplugged: the device is gone.
        QCOMPARE(raisedCode([&] { port->Open(); }), 1);
        line->plugIn();
        port->Open();
        QVERIFY(port->Connected());
    }

    void faultsRaiseTheirCodes() {
        open();
        line->failWrites(31);
        line->failReads(995);
        char buffer[2];
        QCOMPARE(raisedCode([&] { port->Write("a", 1); }), 2);
        QCOMPARE(raisedCode([&] { port->Read(buffer, 2); }), 3);
        line->failWrites(0);
        QCOMPARE(port->Write("a", 1), 1);
    }

    void manyOpenCloseCyclesWhileTheLineIsBusy() {
        std::atomic<bool> done{false};
        std::thread producer([&] {
            bool on = false;
            while (!done) {
                line->setCTS(on = !on);
                line->send("z");
                line->raiseErrors({ceOverrun});
                std::this_thread::yield();
            }
        });
        int events = 0;
        port->OnCTSChange = [&](TCustomComPort*, bool) { ++events; };
        port->OnRxChar = [&](TCustomComPort* p, int n) {
            ++events;
            QByteArray discard(n, 0);
            p->Read(discard.data(), n);
        };
        port->OnError = [&](TCustomComPort*, TComErrors) { ++events; };
        port->SetPort(portName);
        for (int i = 0; i < 1000; ++i) {
            port->Open();
            if (i % 3 == 0)
                QCoreApplication::processEvents();
            port->Close();
        }
        done = true;
        producer.join();
        QVERIFY(!port->Connected());
        QVERIFY(events > 0);
    }
};

QTEST_GUILESS_MAIN(ComPortEventsTest)
#include "tst_comport_events.moc"
