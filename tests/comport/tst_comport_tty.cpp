#include "Pty.h"
#include "Raised.h"

#include "link/comport/ComLed.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"

#include <QElapsedTimer>
#include <QTest>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <time.h>

namespace {
const QString portName = QStringLiteral("COM7");

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
} // namespace

class ComPortTtyTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Pty> pty;
    std::unique_ptr<TComPort> port;

private slots:
    void init() {
        pty = std::make_unique<Pty>();
        if (!pty->ok())
            QSKIP("no pseudo-terminals here");
        PortMap::map(portName, pty->slavePath);
        port = std::make_unique<TComPort>();
        port->SetPort(portName);
    }
    void cleanup() {
        port.reset();
        pty.reset();
        PortMap::reset();
    }

    void aHeldPortIsNotOpened_data() {
        QTest::addColumn<QString>("holder");
        QTest::newRow("advisory lock") << "flock";
        QTest::newRow("exclusive tty") << "excl";
        QTest::newRow("another port") << "port";
    }
    void aHeldPortIsNotOpened() {
        QFETCH(QString, holder);
        int fd = -1;
        TComPort other;
        if (holder == QLatin1String("port")) {
            other.SetPort(portName);
            other.Open();
        } else {
            fd = ::open(pty->slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            QVERIFY(fd >= 0);
            if (holder == QLatin1String("flock"))
                QCOMPARE(flock(fd, LOCK_EX | LOCK_NB), 0);
            else
                QCOMPARE(ioctl(fd, TIOCEXCL), 0);
        }
        QString message;
        QCOMPARE(raisedCode([&] { port->Open(); }, &message), 1);
        QCOMPARE(message, QStringLiteral("Unable to open com port (win error code: 5)"));
        QVERIFY(!port->Connected());

        // Once the holder lets go, the port opens.
        if (fd >= 0) {
            ioctl(fd, TIOCNXCL);
            ::close(fd);
        }
        other.Close();
        port->Open();
        QVERIFY(port->Connected());
    }

    void ctsIsReportedOnOpenAndOffOnCloseWithTheLedsFollowing() {
        TComLed ctsLed, connLed;
        ctsLed.SetLedSignal(lsCTS);
        ctsLed.SetComPort(port.get());
        connLed.SetComPort(port.get());
        QList<bool> reported;
        QList<TLedState> ledWhenReported;
        port->OnCTSChange = [&](TCustomComPort*, bool on) {
            reported << on;
            ledWhenReported << ctsLed.State();
        };
        port->Open();
        // A pseudo-terminal has no modem lines: they read as on.
        QCOMPARE(reported, QList<bool>{true});
        QCOMPARE(ledWhenReported, QList<TLedState>{lsOn});
        QCOMPARE(ctsLed.State(), lsOn);
        QCOMPARE(connLed.State(), lsOn);
        QVERIFY(port->Signals().Contains(csCTS));

        port->Close();
        QCOMPARE(reported, (QList<bool>{true, false}));
        QCOMPARE(ledWhenReported, (QList<TLedState>{lsOn, lsOff}));
        QCOMPARE(connLed.State(), lsOff);
    }

    void ledStateIsTheProgramsOnlyWhenUnbound() {
        TComLed bound, free;
        bound.SetComPort(port.get());
        QString message;
        QCOMPARE(raisedCode([&] { bound.SetState(lsOn); }, &message), 19);
        QCOMPARE(message, QStringLiteral("Cannot change led state if ComPort is selected"));
        QCOMPARE(bound.State(), lsOff);

        QList<TLedState> changes;
        free.OnChange = [&](TComLed*, TLedState s) { changes << s; };
        free.SetKind(lkYellowLight);
        free.SetState(lsOn);
        free.SetState(lsOn);
        free.SetState(lsOff);
        QCOMPARE(changes, (QList<TLedState>{lsOn, lsOff}));

        // A port that goes away leaves its LEDs free.
        port.reset();
        QCOMPARE(bound.ComPort(), nullptr);
        bound.SetState(lsOn);
        QCOMPARE(bound.State(), lsOn);
    }

    void glyphsDifferOnAndOff_data() {
        QTest::addColumn<int>("kind");
        for (int k = lkRedLight; k <= lkBulb; ++k)
            QTest::addRow("kind %d", k) << k;
    }
    void glyphsDifferOnAndOff() {
        QFETCH(int, kind);
        const QImage on = TComLed::KindGlyph(TLedKind(kind), true).toImage();
        const QImage off = TComLed::KindGlyph(TLedKind(kind), false).toImage();
        QVERIFY(!on.isNull());
        QVERIFY(on != off);
        TComLed led;
        led.SetKind(TLedKind(kind));
        led.SetState(lsOn);
        QCOMPARE(led.grab().toImage().pixelColor(12, 12),
                 on.pixelColor(12 - (25 - on.width()) / 2, 12 - (25 - on.height()) / 2));
    }

    void readTimeouts_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("multiplier");
        QTest::addColumn<int>("constant");
        QTest::addColumn<int>("sent"); // bytes sent 20 ms after the read started
        QTest::addColumn<int>("expectedRead");
        QTest::addColumn<int>("expectedMs");
        QTest::newRow("nothing arrives, 9 bytes") << 9 << 60 << 10 << 30 << 0 << 0 << 120;
        QTest::newRow("nothing arrives, 17 bytes") << 17 << 60 << 10 << 30 << 0 << 0 << 200;
        QTest::newRow("nothing arrives, 300 bytes") << 300 << 0 << 1 << 20 << 0 << 0 << 320;
        QTest::newRow("reply stops after 5") << 9 << 60 << 10 << 300 << 5 << 5 << 80;
        QTest::newRow("whole reply") << 4 << 60 << 10 << 300 << 4 << 4 << 20;
        QTest::newRow("whole reply of 300") << 300 << 60 << 1 << 500 << 300 << 300 << 20;
        QTest::newRow("return at once") << 5 << -1 << 0 << 0 << 0 << 0 << 0;
    }
    void readTimeouts() {
        QFETCH(int, count);
        QFETCH(int, interval);
        QFETCH(int, multiplier);
        QFETCH(int, constant);
        QFETCH(int, sent);
        QFETCH(int, expectedRead);
        QFETCH(int, expectedMs);
        port->Timeouts().SetReadInterval(interval);
        port->Timeouts().SetReadTotalMultiplier(multiplier);
        port->Timeouts().SetReadTotalConstant(constant);
        port->Open();
        std::thread far([&] {
            if (sent == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pty->send(QByteArray(sent, 'r'));
        });
        QByteArray buffer(count, 0);
        QElapsedTimer clock;
        clock.start();
        const int read = port->Read(buffer.data(), count);
        const qint64 elapsed = clock.elapsed();
        far.join();
        QCOMPARE(read, expectedRead);
        QCOMPARE(buffer.left(read), QByteArray(read, 'r'));
        QVERIFY2(elapsed >= expectedMs - 2 && elapsed < expectedMs + 80,
                 qPrintable(QString::number(elapsed)));
    }

    void writeTimesOutOnALineThatTakesNothing() {
        port->Timeouts().SetWriteTotalMultiplier(0);
        port->Timeouts().SetWriteTotalConstant(150);
        port->Open();
        // Nobody reads the master, so the pseudo-terminal fills up.
        const QByteArray data(1 << 20, 'w');
        QElapsedTimer clock;
        clock.start();
        const int written = port->Write(data.constData(), int(data.size()));
        const qint64 elapsed = clock.elapsed();
        QVERIFY(written > 0 && written < data.size());
        QVERIFY2(elapsed >= 150 && elapsed < 400, qPrintable(QString::number(elapsed)));
        QCOMPARE(pty->drain().size(), written);
    }

    void bytesPassBothWaysAndUnreadOnesWait() {
        int announced = 0, empties = 0;
        port->OnRxChar = [&](TCustomComPort*, int n) { announced = n; };
        port->OnTxEmpty = [&](TCustomComPort*) { ++empties; };
        port->Open();
        QCOMPARE(port->Write("hello", 5), 5);
        QTRY_COMPARE(empties, 1);
        QCOMPARE(pty->drain(), QByteArray("hello"));
        pty->send("abc");
        QTRY_COMPARE(announced, 3);
        QTest::qWait(50);
        QCOMPARE(port->InputCount(), 3);
        char buffer[3];
        QCOMPARE(port->Read(buffer, 3), 3);
        QCOMPARE(QByteArray(buffer, 3), QByteArray("abc"));
        QCOMPARE(empties, 1);
    }

    void outCtsFlowSwitchesHardwareFlowControl() {
        port->Open();
        const int fd =
            ::open(pty->slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            QSKIP("the settings can be read back only with a second descriptor (root)");
        auto cflag = [fd] {
            termios t{};
            tcgetattr(fd, &t);
            return t.c_cflag;
        };
        QCOMPARE(cflag() & CRTSCTS, tcflag_t(0));
        QCOMPARE(cflag() & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
        port->FlowControl().SetOutCTSFlow(true);
        QCOMPARE(cflag() & CRTSCTS, tcflag_t(CRTSCTS));
        port->FlowControl().SetOutCTSFlow(false);
        QCOMPARE(cflag() & CRTSCTS, tcflag_t(0));
        ::close(fd);
        // Rates termios has no constant for still apply.
        port->SetBaudRate(br56000);
        // A pseudo-terminal keeps 8 bits without parity whatever it is told;
        // the settings read back differ, which is a refusal.
        QCOMPARE(raisedCode([&] { port->Parity().SetBits(prEven); }), 7);
    }

    void unplugIsOneErrorAndTheThreadStaysIdle() {
        QList<TComErrors> errors;
        port->OnError = [&](TCustomComPort*, TComErrors e) { errors << e; };
        port->Open();
        pty->closeMaster();
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first(), TComErrors{ceIO});
        QCOMPARE(raisedCode([&] { port->Write("a", 1); }), 2);
        const double before = cpuSeconds();
        QTest::qWait(300);
        QVERIFY2(cpuSeconds() - before < 0.06, "the event thread spins after a hang-up");
        QCOMPARE(errors.size(), 1);
        port->Close();
        QVERIFY(!port->Connected());
    }
};

QTEST_MAIN(ComPortTtyTest)
#include "tst_comport_tty.moc"
