#include "LoopbackPeer.h"
#include "Pty.h"
#include "Raised.h"
#include "Ser2net.h"

#include "link/comport/ComLed.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/comport/lines/network/NetworkAddress.h"
#include "link/comport/lines/tty/TtyHolder.h"
#include "link/comport/lines/tty/TtyLine.h"
#include "link/comport/lines/tty/TtyLock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <future>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>

namespace {
const QString portName = QStringLiteral("COM7");

void writeLock(const QString& path, qint64 pid) {
    QFile lock(path);
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(pid).rightJustified(10, ' ') + '\n');
}

qint64 readLock(const QString& path) {
    QFile lock(path);
    return lock.open(QIODevice::ReadOnly) ? lock.readAll().trimmed().toLongLong() : 0;
}

// Two users other than root: the holder's, and the opener's, which may not
// look into the holder's descriptors.
const QStringList asHolder{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups")};
const QStringList asOpener{QStringLiteral("--reuid=65532"), QStringLiteral("--regid=65532"),
                           QStringLiteral("--clear-groups")};

// This test program, run again as another user: "--open DEVICE" exits with
// the open's Windows error (0 when it opened); "--hold DEVICE excl|flock"
// holds the device so until its input closes.
int helperMain(const QStringList& args) {
    const QByteArray device = args.value(2).toLocal8Bit();
    if (args.value(1) == QLatin1String("--open")) {
        int error = 0;
        return TtyLine::open(QString::fromLocal8Bit(device), error) ? 0 : error;
    }
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || (args.value(3) == QLatin1String("excl") ? ioctl(fd, TIOCEXCL)
                                                          : flock(fd, LOCK_EX | LOCK_NB)) != 0)
        return 1;
    // Exclusive mode outlives the descriptor while the master is open: it
    // is given up on SIGTERM, which ends the read below.
    struct sigaction term {};
    term.sa_handler = [](int) {};
    sigaction(SIGTERM, &term, nullptr);
    char c = 0;
    [[maybe_unused]] const auto said = ::write(STDOUT_FILENO, "held\n", 5);
    [[maybe_unused]] const auto n = ::read(STDIN_FILENO, &c, 1);
    ioctl(fd, TIOCNXCL);
    return 0;
}

int openAsAnotherUser(const QString& device) {
    QProcess opener;
    opener.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    opener.start(QStringLiteral("setpriv"),
                 asOpener + QStringList{QCoreApplication::applicationFilePath(),
                                        QStringLiteral("--open"), device});
    opener.waitForFinished(20000);
    return opener.exitStatus() == QProcess::NormalExit ? opener.exitCode() : -1;
}

// Two processes take over one stale lock at once, rounds times; the number
// of rounds in which exactly one of them won.
int singleWinners(const QString& device, const QString& lockFile, qint64 deadPid, int rounds) {
    int go[2][2], told[2][2];
    pid_t takers[2];
    for (int i = 0; i < 2; ++i) {
        if (pipe(go[i]) != 0 || pipe(told[i]) != 0)
            return -1;
        takers[i] = fork();
        if (takers[i] == 0) {
            // Only the parent's ends of the pipes keep them open.
            for (int j = 0; j <= i; ++j)
                for (const int end : {go[j][1], told[j][0]})
                    ::close(end);
            std::unique_ptr<TtyLock> lock;
            char c = 0;
            while (::read(go[i][0], &c, 1) == 1) {
                lock = std::make_unique<TtyLock>();
                pid_t holder = 0;
                c = lock->take(device, holder) ? '1' : '0';
                [[maybe_unused]] const auto n = ::write(told[i][1], &c, 1);
            }
            _exit(0);
        }
        ::close(go[i][0]);
        ::close(told[i][1]);
    }
    int single = 0;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(lockFile);
        writeLock(lockFile, deadPid);
        for (const auto& pipe : go)
            [[maybe_unused]] const auto n = ::write(pipe[1], "g", 1);
        char won[2] = {};
        for (int i = 0; i < 2; ++i)
            [[maybe_unused]] const auto n = ::read(told[i][0], &won[i], 1);
        single += (won[0] == '1') + (won[1] == '1') == 1;
    }
    for (int i = 0; i < 2; ++i) {
        ::close(go[i][1]);
        ::close(told[i][0]);
        waitpid(takers[i], nullptr, 0);
    }
    return single;
}

// The id of a process that has ended.
qint64 deadPid() {
    QProcess gone;
    gone.start(QStringLiteral("true"));
    gone.waitForStarted();
    const qint64 pid = gone.processId();
    gone.waitForFinished();
    return pid;
}

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

    // Starts the holder a row names.
    void hold(const QString& holder, const QString& lockFile, QProcess& program, int& fd,
              TComPort& other) {
        const QByteArray slave = pty->slavePath.toLocal8Bit();
        if (holder == QLatin1String("port")) {
            other.SetPort(portName);
            other.Open();
        } else if (holder == QLatin1String("flock") || holder == QLatin1String("excl")) {
            fd = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            QVERIFY(fd >= 0);
            QCOMPARE(holder == QLatin1String("flock") ? flock(fd, LOCK_EX | LOCK_NB)
                                                      : ioctl(fd, TIOCEXCL),
                     0);
        } else if (holder.startsWith(QLatin1String("other "))) {
            QCOMPARE(::chmod(slave.constData(), 0666), 0);
            const QString how = holder.mid(6);
            if (how == QLatin1String("ctty")) {
                program.setStandardInputFile(pty->slavePath);
                program.start("setpriv", asHolder + QStringList{"setsid", "--ctty", "sleep", "30"});
            } else if (how == QLatin1String("lock")) {
                program.start("setpriv", asHolder + QStringList{"sleep", "30"});
            } else {
                program.start("setpriv",
                              asHolder + QStringList{QCoreApplication::applicationFilePath(),
                                                     "--hold", pty->slavePath, how});
                QVERIFY(program.waitForReadyRead(10000));
            }
            QVERIFY(program.waitForStarted());
            // Once setpriv and setsid have made way for sleep, the terminal is its.
            const auto sleeping = [pid = program.processId()] {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
                return comm.open(QIODevice::ReadOnly) && comm.readAll() == "sleep\n";
            };
            if (how == QLatin1String("ctty") || how == QLatin1String("lock"))
                QTRY_VERIFY(sleeping());
            if (how == QLatin1String("lock"))
                writeLock(lockFile, program.processId());
        } else if (holder == QLatin1String("stale")) {
            writeLock(lockFile, deadPid());
        } else {
            // A program that has the terminal open, or one whose lock names it.
            if (holder == QLatin1String("open"))
                program.setStandardInputFile(pty->slavePath);
            program.start(QStringLiteral("sleep"), {QStringLiteral("30")});
            QVERIFY(program.waitForStarted());
            if (holder == QLatin1String("lock"))
                writeLock(lockFile, program.processId());
        }
    }

    // Tried again as a reconnect does, every quarter second: the processes
    // are walked through at most once a second.
    void triedAsAReconnectDoes() {
        const int walks = TtyHolder::walks();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 4; ++i) {
            QTest::qWait(250);
            QCOMPARE(raisedCode([&] { port->Open(); }), 1);
        }
        QVERIFY2(TtyHolder::walks() - walks <= 1 + clock.elapsed() / 1000,
                 qPrintable(QString::number(TtyHolder::walks() - walks)));
    }

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
        QTest::addColumn<bool>("opens");
        QTest::newRow("advisory lock") << "flock" << false;
        QTest::newRow("exclusive tty") << "excl" << false;
        QTest::newRow("another port") << "port" << false;
        QTest::newRow("lock file of a live program") << "lock" << false;
        QTest::newRow("plain open by another program") << "open" << false;
        QTest::newRow("stale lock file") << "stale" << true;
        QTest::newRow("stale lock file, two takers at once") << "race" << true;
        // Held by another user's program, and opened by a third user, who may
        // not look into the holder's descriptors.
        QTest::newRow("another user's controlling terminal") << "other ctty" << false;
        QTest::newRow("another user's exclusive tty") << "other excl" << false;
        QTest::newRow("another user's advisory lock") << "other flock" << false;
        QTest::newRow("lock file of another user's program") << "other lock" << false;
    }
    void aHeldPortIsNotOpened() {
        QFETCH(QString, holder);
        QFETCH(bool, opens);
        const QString lockFile = QStringLiteral("/run/lock/LCK..") +
                                 pty->slavePath.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
        const bool otherUser = holder.startsWith(QLatin1String("other "));
        if (otherUser && (::geteuid() != 0 || QStandardPaths::findExecutable("setpriv").isEmpty()))
            QSKIP("a holder and an opener of other users need root and setpriv");
        int fd = -1;
        TComPort other;
        QProcess program;
        if (holder == QLatin1String("race")) {
            QCOMPARE(singleWinners(pty->slavePath, lockFile, deadPid(), 2000), 2000);
            QFile::remove(lockFile);
            return;
        }
        hold(holder, lockFile, program, fd, other);
        const auto release = [&] {
            if (fd >= 0) {
                ioctl(fd, TIOCNXCL);
                ::close(fd);
            }
            other.Close();
            program.terminate();
            program.waitForFinished();
            QFile::remove(lockFile);
        };
        if (otherUser) {
            QCOMPARE(openAsAnotherUser(pty->slavePath), 5);
            release();
            QCOMPARE(openAsAnotherUser(pty->slavePath), 0);
            return;
        }
        QString message;
        QCOMPARE(raisedCode([&] { port->Open(); }, &message), opens ? 0 : 1);
        QCOMPARE(port->Connected(), opens);
        if (opens) {
            // A stale lock is taken over, and removed at close.
            QCOMPARE(readLock(lockFile), qint64(::getpid()));
            port->Close();
            QVERIFY(!QFile::exists(lockFile));
            return;
        }
        QCOMPARE(message, QStringLiteral("Unable to open com port (win error code: 5)"));
        if (holder == QLatin1String("open"))
            triedAsAReconnectDoes();
        QCOMPARE(pty->drain(), QByteArray());

        // Once the holder lets go, the port opens.
        release();
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
        QTest::newRow("first byte only, none") << 9 << -1 << -1 << 150 << 0 << 0 << 150;
        QTest::newRow("first byte only, some") << 9 << -1 << -1 << 500 << 3 << 3 << 20;
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
        // The clock starts before the far end's: its 20 ms pause cannot end
        // before the read has begun to count, however late the thread runs.
        QElapsedTimer clock;
        clock.start();
        std::thread far([&] {
            if (sent == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pty->send(QByteArray(sent, 'r'));
        });
        QByteArray buffer(count, 0);
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
        char buffer[256];
        QCOMPARE(port->Read(buffer, 2), 2);
        // A read that left bytes waiting does not hide the next arrival.
        pty->send("d");
        QTRY_COMPARE(announced, 2);
        QCOMPARE(port->Read(buffer + 2, 2), 2);
        QCOMPARE(QByteArray(buffer, 4), QByteArray("abcd"));
        QCOMPARE(empties, 1);
        // Every byte value crosses unchanged, 0xFF and zero among them.
        QByteArray all;
        for (int b = 255; b >= 0; --b)
            all.append(char(b));
        pty->send(all);
        QCOMPARE(port->Read(buffer, 256), 256);
        QCOMPARE(QByteArray(buffer, 256), all);
    }

    void openSetsEveryFlagWhateverAnotherProgramLeft() {
        // Held open from before the port opens, so it can read the settings
        // back although the port takes the tty for itself.
        const int fd =
            ::open(pty->slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        termios left{};
        tcgetattr(fd, &left);
        left.c_iflag |= IXOFF | IXANY | IUCLC | IGNPAR | ICRNL | ISTRIP | PARMRK | BRKINT;
        left.c_oflag |= OPOST | ONLCR | OLCUC;
        left.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
        left.c_cflag |= HUPCL | CSTOPB;
        left.c_cc[VMIN] = 1;
        QCOMPARE(tcsetattr(fd, TCSANOW, &left), 0);
        auto settings = [fd] {
            termios t{};
            tcgetattr(fd, &t);
            return t;
        };
        port->Open();
        const termios t = settings();
        QCOMPARE(t.c_iflag, tcflag_t(PARMRK));
        QCOMPARE(t.c_oflag, tcflag_t(0));
        QCOMPARE(t.c_lflag, tcflag_t(0));
        QCOMPARE(t.c_cflag & ~tcflag_t(CBAUD | CIBAUD), tcflag_t(CS8 | CREAD | CLOCAL));
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QCOMPARE(t.c_cc[VMIN], cc_t(0));
        port->FlowControl().SetOutCTSFlow(true);
        QCOMPARE(settings().c_cflag & CRTSCTS, tcflag_t(CRTSCTS));
        port->FlowControl().SetOutCTSFlow(false);
        QCOMPARE(settings().c_cflag & CRTSCTS, tcflag_t(0));
        ::close(fd);
        // Rates termios has no constant for still apply.
        port->SetBaudRate(br56000);
        // A pseudo-terminal keeps 8 bits without parity whatever it is told;
        // the settings read back differ, which is a refusal.
        QCOMPARE(raisedCode([&] { port->Parity().SetBits(prEven); }), 7);
    }

    void aWriteTheLineTakesNothingOfStillEndsInTransmitterEmpty() {
        int empties = 0;
        port->OnTxEmpty = [&](TCustomComPort*) { ++empties; };
        port->FlowControl().SetXonXoffOut(true);
        port->Timeouts().SetWriteTotalMultiplier(0);
        port->Timeouts().SetWriteTotalConstant(100);
        port->Open();
        // The printer says XOFF: the tty takes no byte until XON.
        pty->send("\x13");
        QTest::qWait(50);
        QCOMPARE(port->Write("abc", 3), 0);
        QTRY_COMPARE(empties, 1);
        QCOMPARE(pty->drain(), QByteArray());
        pty->send("\x11");
        QTest::qWait(50);
        QCOMPARE(port->Write("abc", 3), 3);
        QTRY_COMPARE(empties, 2);
        QCOMPARE(pty->drain(), QByteArray("abc"));
    }

    void collectingTheErrorsKeepsTheOtherEvents() {
        int error = 0;
        const auto line = TtyLine::open(pty->slavePath, error);
        QVERIFY(line);
        TDCB dcb;
        dcb.BaudRate = 9600;
        dcb.Flags = TDCB::fBinary;
        QCOMPARE(line->SetCommState(dcb), 0);
        QCOMPARE(line->SetCommTimeouts(TCommTimeouts()), 0);
        pty->send("abc");
        int waiting = 0;
        QTRY_VERIFY(line->InputWaiting(waiting) == 0 && waiting == 3);
        int written = 0;
        QCOMPARE(line->Write("x", 1, written), 0);
        // What an error event does while these two are not yet reported.
        TComErrors errors;
        QCOMPARE(line->ClearError(errors, waiting), 0);
        QCOMPARE(waiting, 3);
        auto events =
            std::async(std::launch::async, [&] { return line->WaitEvents(TComEvents::All()); });
        if (events.wait_for(std::chrono::seconds(1)) != std::future_status::ready)
            line->CancelWait();
        QCOMPARE(events.get(), (TComEvents{evRxChar, evTxEmpty}));
    }

    void aReadRunningWhenTheLineHangsUpRaisesAtOnce() {
        port->Timeouts().SetReadInterval(3000);
        port->Timeouts().SetReadTotalConstant(3000);
        port->Open();
        std::thread far([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pty->closeMaster();
        });
        char buffer[9];
        QString message;
        QElapsedTimer clock;
        clock.start();
        const double cpu = cpuSeconds();
        const int code = raisedCode([&] { port->Read(buffer, 9); }, &message);
        const qint64 elapsed = clock.elapsed();
        far.join();
        QCOMPARE(code, 3);
        QCOMPARE(message, QStringLiteral("ReadFile function failed (win error code: 1117)"));
        QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
        QVERIFY2(cpuSeconds() - cpu < 0.2, "the read spins after a hang-up");
    }

    void closeAndZeroWritesLeaveTheTxLampOff() {
        TComLed txLed;
        txLed.SetLedSignal(lsTx);
        txLed.SetComPort(port.get());
        port->Open();
        QCOMPARE(port->Write("", 0), 0);
        QCOMPARE(txLed.State(), lsOff);
        QCOMPARE(port->Write("x", 1), 1);
        // Its transmitter-empty report waits for the GUI thread, which
        // closes the port first.
        QCOMPARE(txLed.State(), lsOn);
        port->Close();
        QCOMPARE(txLed.State(), lsOff);
    }

    // A device server nobody here wrote, serving the pseudo-terminal: the
    // settings reach the terminal, and every byte value crosses both ways.
    void bytesCrossADeviceServerBothWays_data() {
        QTest::addColumn<bool>("rfc2217");
        QTest::newRow("rfc2217://") << true;
        QTest::newRow("tcp:// to the raw accepter") << false;
    }
    void bytesCrossADeviceServerBothWays() {
        QFETCH(bool, rfc2217);
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (scripts/test installs it)");
        Ser2net server(pty->slavePath);
        QVERIFY(server.start());
        PortMap::map(portName, server.url(rfc2217));
        port->Timeouts().SetReadInterval(2000);
        port->Timeouts().SetReadTotalConstant(10000);
        port->Open();
        QVERIFY(port->Connected());
        termios t{};
        QCOMPARE(tcgetattr(pty->master, &t), 0);
        if (rfc2217) {
            QCOMPARE(cfgetospeed(&t), speed_t(B9600));
            QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
        }
        QByteArray bytes;
        for (int i = 0; i < 20000; ++i)
            bytes.append(char((i * 7 + i / 256) % 256));
        QCOMPARE(port->Write(bytes.constData(), int(bytes.size())), bytes.size());
        QByteArray crossed;
        QTRY_COMPARE((crossed += pty->drain()).size(), bytes.size());
        QCOMPARE(crossed, bytes);
        std::thread far([&] { pty->send(bytes); });
        QByteArray back(bytes.size(), 0);
        const int read = port->Read(back.data(), int(back.size()));
        far.join();
        QCOMPARE(read, bytes.size());
        QCOMPARE(back, bytes);
        port->Close();
    }

    // Opens the port on a peer, which serves a device server's part meanwhile.
    void openOn(LoopbackPeer& peer, bool rfc2217) {
        PortMap::map(portName, peer.url(rfc2217));
        std::atomic<bool> opened{false};
        std::thread server([&] {
            peer.accept();
            while (!opened)
                peer.send(peer.serve(peer.read(20)));
        });
        port->Open();
        opened = true;
        server.join();
        peer.read(100); // what the open said
    }
    // Everything the peer receives within ms once it reads again.
    static QByteArray readAll(LoopbackPeer& peer, qsizetype expected) {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < expected && clock.elapsed() < 20000)
            got += peer.read(100);
        return got;
    }

    // A network printer that stops taking bytes is busy, not lost: CTS goes
    // off within a second and on again once it reads, a write into it ends
    // at its time-out with the window live, and what it took arrives once,
    // in order. A device server says the same with FLOWCONTROL-SUSPEND.
    void aBusyNetworkPrinterHoldsCtsOff_data() {
        QTest::addColumn<bool>("rfc2217");
        QTest::addColumn<bool>("suspend");
        QTest::newRow("raw, its window closed") << false << false;
        QTest::newRow("device server, its window closed") << true << false;
        QTest::newRow("device server, SUSPEND then RESUME") << true << true;
    }
    void aBusyNetworkPrinterHoldsCtsOff() {
        QFETCH(bool, rfc2217);
        QFETCH(bool, suspend);
        LoopbackPeer peer;
        openOn(peer, rfc2217);
        QVERIFY(port->Connected());
        QList<bool> cts;
        port->OnCTSChange = [&](TCustomComPort*, bool on) { cts << on; };
        const auto closed = qScopeGuard([this] { port->Close(); });
        port->Timeouts().SetWriteTotalMultiplier(0);
        port->Timeouts().SetWriteTotalConstant(1500);
        QByteArray bytes(suspend ? 3 : 8 << 20, 0);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7 % 255); // no 0xFF: the wire is the data
        if (suspend) {
            peer.send(QByteArray("\xff\xfa\x2c\x6c\xff\xf0", 6));
            QTRY_COMPARE(cts, QList<bool>{false});
        }
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(50);
        QElapsedTimer clock;
        clock.start();
        const int written = port->Write(bytes.constData(), int(bytes.size()));
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 1450 && elapsed < 4000, qPrintable(QString::number(elapsed)));
        QVERIFY2(ticks >= elapsed / 300, "the window froze");
        QVERIFY(written < bytes.size());
        QVERIFY(!suspend || written == 0);
        QTRY_COMPARE(cts, QList<bool>{false});
        QVERIFY(!port->Signals().Contains(csCTS));
        if (suspend) {
            QVERIFY(peer.read(300).isEmpty());
            peer.send(QByteArray("\xff\xfa\x2c\x6d\xff\xf0", 7));
            QTRY_COMPARE(cts, (QList<bool>{false, true}));
            QCOMPARE(port->Write(bytes.constData(), 3), 3);
            QCOMPARE(readAll(peer, 3), bytes);
            return;
        }
        QCOMPARE(readAll(peer, written), bytes.left(written));
        QTRY_COMPARE(cts, (QList<bool>{false, true}));
        QVERIFY(port->Connected());
    }

    // A server that keeps asking is answered once per change (an IAC DO 99
    // storm gets one WONT 99); one that makes the line owe it more than
    // 64 KB of answers while it reads nothing is dropped as misbehaving.
    void aServerThatKeepsAskingCannotFloodTheLine_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("IAC DO 99 storm") << QByteArray("\xff\xfd\x63") << false;
        QTest::newRow("binary on and off, never reading")
            << QByteArray("\xff\xfe\x00\xff\xfd\x00", 6) << true;
    }
    void aServerThatKeepsAskingCannotFloodTheLine() {
        QFETCH(QByteArray, request);
        QFETCH(bool, dropped);
        LoopbackPeer peer;
        openOn(peer, true);
        QList<TComErrors> errors;
        port->OnError = [&](TCustomComPort*, TComErrors e) { errors << e; };
        const auto closed = qScopeGuard([this] { port->Close(); });
        const QByteArray burst = request.repeated(4096);
        qsizetype sent = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 4000 && errors.isEmpty() && sent < (64 << 20)) {
            sent += peer.send(burst);
            QTest::qWait(1);
        }
        if (dropped) {
            QTRY_COMPARE(errors, QList<TComErrors>{TComErrors{ceIO}});
            QCOMPARE(NetworkFailure::last(PortMap::device(portName)).kind,
                     NetworkFailure::Kind::Misbehaved);
            return;
        }
        QVERIFY(errors.isEmpty());
        QVERIFY(sent > 1 << 20);
        QTest::qWait(200);
        QCOMPARE(readAll(peer, 3).count("\xff\xfc\x63"), 1);
        QVERIFY(port->Connected());
    }

    void hangUpIsOneErrorWithTheLinesOffAndNoSpin() {
        TComLed ctsLed, txLed;
        ctsLed.SetLedSignal(lsCTS);
        ctsLed.SetComPort(port.get());
        txLed.SetLedSignal(lsTx);
        txLed.SetComPort(port.get());
        QList<TComErrors> errors;
        QList<bool> cts;
        port->OnError = [&](TCustomComPort*, TComErrors e) { errors << e; };
        port->Open();
        port->OnCTSChange = [&](TCustomComPort*, bool on) { cts << on; };
        pty->closeMaster();
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first(), TComErrors{ceIO});
        QTRY_COMPARE(cts, QList<bool>{false});
        QCOMPARE(ctsLed.State(), lsOff);
        QCOMPARE(raisedCode([&] { port->Write("a", 1); }), 2);
        QCOMPARE(txLed.State(), lsOff);
        const double before = cpuSeconds();
        QTest::qWait(300);
        QVERIFY2(cpuSeconds() - before < 0.06, "the event thread spins after a hang-up");
        QCOMPARE(errors.size(), 1);
        QCOMPARE(cts.size(), 1);
        port->Close();
        QVERIFY(!port->Connected());
    }
};

int main(int argc, char* argv[]) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.value(1) == QLatin1String("--open") || args.value(1) == QLatin1String("--hold"))
        return helperMain(args);
    QApplication app(argc, argv);
    ComPortTtyTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_comport_tty.moc"
