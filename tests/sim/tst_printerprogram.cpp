// tellumo-printer as a program on a real pseudo-terminal: a long receipt
// written in one go reaches the paper whole, a host that never reads the
// replies cannot stall it, and what it would lose at the end is refused at
// the start; driven as a test suite's script drives it, through --link and
// --control, it never jams, loses nothing and forgets old replies. Also the
// printer's losses where they can happen, and its text.
#include "sim/paper/PaperPages.h"
#include "sim/paper/PaperText.h"
#include "sim/printer/VirtualPrinter.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// Writes everything, waiting while the terminal is full; false when the
// printer stopped taking bytes for 10 s.
bool writeAll(int terminal, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(terminal, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        pollfd p{terminal, POLLOUT, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return false;
    }
    return true;
}

// tellumo-printer, running, with what it has printed on its standard output.
class PrinterProgram {
public:
    explicit PrinterProgram(
        const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TELLUMO_PRINTER), arguments);
        const QRegularExpression announced(QStringLiteral(" em (/dev/pts/[0-9]+)\\n"));
        while (path.isEmpty() && waitForOutput()) {
            if (const auto m = announced.match(output); m.hasMatch())
                path = m.captured(1);
        }
    }
    ~PrinterProgram() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        if (terminal >= 0)
            ::close(terminal);
    }

    // What the event loop already read in counts too: waiting for more
    // would miss it.
    bool waitForOutput(int ms = 10000) {
        if (process.bytesAvailable() == 0 && !process.waitForReadyRead(ms))
            return false;
        output += QString::fromLocal8Bit(process.readAllStandardOutput());
        return true;
    }
    // Reads the output until it holds pattern, for at most 20 s.
    bool waitFor(const QRegularExpression& pattern) {
        QDeadlineTimer deadline(20000);
        while (!pattern.match(output).hasMatch())
            if (deadline.hasExpired() || !waitForOutput(int(deadline.remainingTime())))
                return false;
        return true;
    }
    int receivedBytes() const {
        static const QRegularExpression received(QStringLiteral(" <- ((?:[0-9A-F]{2} )+)"));
        int bytes = 0;
        for (auto it = received.globalMatch(output); it.hasNext();)
            bytes += int(it.next().capturedLength(1)) / 3;
        return bytes;
    }

    // Opens the terminal as a serial program would, raw.
    bool openTerminal() {
        terminal = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw{};
        return terminal >= 0 && ::tcgetattr(terminal, &raw) == 0 && (::cfmakeraw(&raw), true) &&
               ::tcsetattr(terminal, TCSANOW, &raw) == 0;
    }
    bool write(const QByteArray& bytes) { return writeAll(terminal, bytes); }
    // SIGTERM, as a script or the desktop ends it.
    bool stop() {
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(10000))
            return false;
        output += QString::fromLocal8Bit(process.readAllStandardOutput());
        return true;
    }

    QProcess process;
    QString path;
    QString output;
    int terminal = -1;
};

// 6.4 KB of full 48-column lines, more than the printer's buffer holds.
QByteArray receipt() {
    QByteArray text = "MERCADO BOA VISTA\nCUPOM FISCAL\n\n";
    for (int item = 1; item <= 130; ++item) {
        const QString name =
            QStringLiteral("%1  Produto de teste número %1").arg(item, 3, 10, QLatin1Char('0'));
        const QString price = QStringLiteral("R$ %1,90").arg(item % 50 + 1);
        text += (name + price.rightJustified(48 - name.size()) + '\n').toLatin1();
    }
    return text + "TOTAL R$ 1234,56\n";
}

QString read(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// One step of a script: bytes written to the terminal, a control command
// and its answer, a reply read back, a wait until one is there to read (but
// not read), the terminal closed and opened again, a pause, the printer's
// resident memory checked against its start, or a line the --events file
// holds (or does not). Besides: the terminal left in exclusive mode at 19200 bit/s by a
// client that dies; status requests written for a while and never read; a
// control command answered within a time; "state" lines sent for a while to
// the control socket without reading the answers; a signal that must end the
// printer within a time; a Python script (pyserial's client) run to its end.
struct Step {
    enum Kind {
        Write,
        Control,
        Reply,
        Unread,
        Reopen,
        Pause,
        MemoryWithin,
        Events,
        Exclusive,
        Flood,
        Prompt,
        ControlFlood,
        Signal,
        Python,
    } kind;
    // Write, Reply; Control, Prompt: the command; Signal: HUP or TERM; Python: the script;
    // Events: "absent" when no event may hold the answer
    QByteArray bytes;
    // Control: "ok", or a part of the answer; Pause, MemoryWithin, Flood,
    // Prompt, ControlFlood, Signal: a number (ms or kB)
    QString answer;
};
using Script = QList<Step>;
Step writes(const QByteArray& bytes) {
    return {Step::Write, bytes, {}};
}
Step control(const char* command, const char* answer = "ok") {
    return {Step::Control, command, QString::fromUtf8(answer)};
}
Step replies(const QByteArray& bytes) {
    return {Step::Reply, bytes, {}};
}

// Who reads the printer's standard output: nobody at all (a file), a pipe
// that is never read, or `| head -1`.
enum class Log { Discarded, Stalled, FirstLineOnly };

qint64 residentKb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    const QRegularExpression rss(QStringLiteral("VmRSS:\\s+(\\d+)"));
    return rss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

// tellumo-printer as a test suite runs it: found through --link, its panel
// on --control, its output wherever the script sends it.
class ScriptedPrinter {
public:
    ScriptedPrinter(const QString& folder, QStringList arguments, Log log)
        : folder_(folder), control_(folder + "/control") {
        arguments << "--link" << link() << "--control" << control_;
        int pipe[2] = {-1, -1};
        if (log == Log::Discarded) {
            process.setStandardOutputFile(QProcess::nullDevice());
        } else {
            QVERIFY(::pipe2(pipe, O_CLOEXEC) == 0);
            logRead_ = pipe[0];
            process.setChildProcessModifier([fd = pipe[1]] { ::dup2(fd, 1); });
        }
        process.start(QStringLiteral(TELLUMO_PRINTER), arguments);
        if (pipe[1] >= 0)
            ::close(pipe[1]);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link()).isSymLink(), 20000);
        if (log == Log::FirstLineOnly) {
            char c = 0;
            while (::read(logRead_, &c, 1) == 1 && c != '\n') {
            }
            ::close(logRead_);
            logRead_ = -1;
        }
        QTRY_VERIFY(QFileInfo::exists(control_));
        QVERIFY(reopen());
        startKb = residentKb(process.processId());
    }
    ~ScriptedPrinter() {
        stopFlood_ = true;
        if (flood_.joinable())
            flood_.join();
        if (controlFlood_ >= 0)
            ::close(controlFlood_);
        if (terminal >= 0)
            ::close(terminal);
        if (logRead_ >= 0)
            ::close(logRead_);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    QString link() const { return folder_ + "/printer"; }
    QString controlPath() const { return control_; }
    // Every open starts as the printer left the terminal: not exclusive, at
    // 9600 bit/s. The program closing it and the next opening it may be
    // pauseMs apart.
    bool reopen(int pauseMs = 0) {
        if (terminal >= 0)
            ::close(terminal);
        QThread::msleep(pauseMs);
        terminal = ::open(QFile::encodeName(link()).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios raw{};
        int exclusive = 1;
        return terminal >= 0 && ::ioctl(terminal, TIOCGEXCL, &exclusive) == 0 && !exclusive &&
               ::tcgetattr(terminal, &raw) == 0 && ::cfgetospeed(&raw) == B9600 &&
               (::cfmakeraw(&raw), true) && ::tcsetattr(terminal, TCSANOW, &raw) == 0;
    }
    // A client that took the terminal for itself at another speed, then died.
    bool leaveExclusive() {
        termios settings{};
        const bool done =
            ::ioctl(terminal, TIOCEXCL) == 0 && ::tcgetattr(terminal, &settings) == 0 &&
            ::cfsetspeed(&settings, B19200) == 0 && ::tcsetattr(terminal, TCSANOW, &settings) == 0;
        ::close(terminal);
        terminal = -1;
        return done;
    }
    // Status requests written for ms and never read, beside the steps that follow.
    void flood(int ms) {
        const int fd = ::dup(terminal);
        flood_ = std::thread([this, fd, ms] {
            const QByteArray requests = QByteArray("\x1bv").repeated(256);
            for (QDeadlineTimer end(ms); !end.hasExpired() && !stopFlood_;) {
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, 10) == 1) [[maybe_unused]]
                    const auto n = ::write(fd, requests.constData(), 512);
            }
            ::close(fd);
        });
    }
    // "state" lines for two seconds, their answers never read: how many kB
    // the printer took.
    qint64 floodControl() {
        controlFlood_ = connectControl();
        ::fcntl(controlFlood_, F_SETFL, O_NONBLOCK);
        const QByteArray lines = QByteArray("state\n").repeated(1000);
        qint64 sent = 0;
        for (QDeadlineTimer end(2000); !end.hasExpired();) {
            const ssize_t n = ::write(controlFlood_, lines.constData(), size_t(lines.size()));
            if (n > 0)
                sent += n;
            else
                QThread::msleep(1);
        }
        return sent / 1024;
    }
    int connectControl() const {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(control_).constData(),
                 sizeof address.sun_path);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return fd;
        ::close(fd);
        return -1;
    }
    // As a script's `echo state | socat - UNIX-CONNECT:…` asks: one line on a
    // connection of its own, whose sending side closes at once.
    QString ask(const QByteArray& command) {
        const int fd = connectControl();
        QByteArray answer;
        if (fd >= 0 && writeAll(fd, command + '\n') && ::shutdown(fd, SHUT_WR) == 0) {
            char c = 0;
            while (::read(fd, &c, 1) == 1 && c != '\n')
                answer += c;
        }
        if (fd >= 0)
            ::close(fd);
        return QString::fromUtf8(answer);
    }
    QByteArray readBack(qsizetype size) {
        QByteArray got;
        for (QDeadlineTimer deadline(10000); got.size() < size && !deadline.hasExpired();) {
            pollfd p{terminal, POLLIN, 0};
            ::poll(&p, 1, 100);
            char buffer[4096];
            const ssize_t n = ::read(terminal, buffer,
                                     size_t(std::min<qsizetype>(sizeof buffer, size - got.size())));
            if (n > 0)
                got.append(buffer, n);
        }
        return got;
    }

    QProcess process;
    int terminal = -1;
    qint64 startKb = 0;

private:
    QString folder_;
    QString control_;
    int logRead_ = -1;
    std::thread flood_;
    std::atomic<bool> stopFlood_ = false;
    int controlFlood_ = -1;
};

// What every Python step starts with: the printer's panel (ask, state) and
// waiting for a condition (until), from printer_panel.py, and pyserial's RFC 2217 client on the
// printer's --rfc2217 port.
const char PythonPrelude[] = R"(
import json, os, socket, struct, sys, threading, time
import serial
from printer_panel import ask, events, state, until
def rfc2217(**options):
    port = state()['rfc2217']['address'].rsplit(':', 1)[1]
    return serial.serial_for_url('rfc2217://127.0.0.1:' + port, timeout=1, **options)
def close(p):  # once its kernel has sent all: a close with replies unread resets
    import fcntl, termios
    unsent = lambda: struct.unpack('i', fcntl.ioctl(p._socket, termios.TIOCOUTQ, b'    '))[0]
    assert until(lambda: unsent() == 0, 30), unsent()
    p.close()
)";

// Debian's own Python, where Debian's pyserial is.
void runPython(const QByteArray& script, const QString& control, const QString& folder) {
    QProcess python;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CONTROL"), control);
    environment.insert(QStringLiteral("FOLDER"), folder);
    environment.insert(QStringLiteral("PYTHONPATH"), QStringLiteral(TELLUMO_SOURCE "/tests/sim"));
    python.setProcessEnvironment(environment);
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QString::fromUtf8(PythonPrelude + script)});
    const bool ended = python.waitForFinished(90000);
    const QByteArray said = python.readAllStandardOutput() + python.readAllStandardError();
    QVERIFY2(ended && python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0,
             said.constData());
}

void runTimedStep(ScriptedPrinter& printer, const Step& step, const QString& folder) {
    const int within = step.answer.toInt();
    QElapsedTimer clock;
    clock.start();
    switch (step.kind) {
    case Step::Prompt: {
        const QString answer = printer.ask(step.bytes);
        QVERIFY2(!answer.isEmpty() && clock.elapsed() <= within,
                 qPrintable(QStringLiteral("%1 ms: %2").arg(clock.elapsed()).arg(answer)));
        break;
    }
    case Step::Signal:
        ::kill(pid_t(printer.process.processId()), step.bytes == "HUP" ? SIGHUP : SIGTERM);
        QVERIFY2(printer.process.waitForFinished(within), "the printer did not end in time");
        break;
    case Step::Flood:
        printer.flood(within);
        break;
    case Step::ControlFlood: {
        const qint64 taken = printer.floodControl();
        QVERIFY2(taken <= within, qPrintable(QStringLiteral("%1 kB taken").arg(taken)));
        break;
    }
    case Step::Exclusive:
        QVERIFY(printer.leaveExclusive());
        break;
    case Step::Python:
        runPython(step.bytes, printer.controlPath(), folder);
        break;
    default:
        break;
    }
}

void runStep(ScriptedPrinter& printer, const Step& step, const QString& folder) {
    switch (step.kind) {
    case Step::Write:
        QVERIFY2(writeAll(printer.terminal, step.bytes), "the printer stopped reading");
        break;
    case Step::Control: {
        const QString answer = printer.ask(step.bytes);
        QVERIFY2(step.answer == "ok" ? answer == "ok" : answer.contains(step.answer),
                 qPrintable(step.bytes + " -> " + answer));
        break;
    }
    case Step::Reply:
        QCOMPARE(printer.readBack(step.bytes.size()), step.bytes);
        break;
    case Step::Unread: {
        pollfd p{printer.terminal, POLLIN, 0};
        QCOMPARE(::poll(&p, 1, 10000), 1);
        break;
    }
    case Step::Reopen:
        QVERIFY2(printer.reopen(step.answer.toInt()), "the terminal did not open clean");
        break;
    case Step::Pause:
        QTest::qWait(step.answer.toInt());
        break;
    case Step::Events:
        QVERIFY2(read(folder + "/events.jsonl").contains(step.answer) != (step.bytes == "absent"),
                 qPrintable(step.answer));
        break;
    case Step::MemoryWithin:
        QVERIFY2(residentKb(printer.process.processId()) - printer.startKb < step.answer.toInt(),
                 "resident memory grew");
        break;
    default:
        runTimedStep(printer, step, folder);
    }
}

// What once went wrong on the terminal and the control socket, one row each.
template <typename Row> void terminalFaultRows(const Row& row) {
    const QByteArray status = "\x1bv", model = "\x1bI1";
    const QByteArray modelReply = "\x06" + VirtualPrinter::DualModelName;
    // The request still waits in the terminal, behind lines the buffer has
    // no room for yet, when its program closes the port.
    row("a request written before a close is not answered to the next program", {"--speed", "100"},
        {writes(QByteArray("linha\n").repeated(800) + status),
         {Step::Reopen, {}, "50"},
         writes(model),
         replies(modelReply)},
        {});
    row("a client that dies in exclusive mode at 19200 bit/s leaves the terminal clean", {},
        {{Step::Exclusive, {}, {}},
         {Step::Pause, {}, "300"},
         {Step::Reopen, {}, {}},
         writes(status),
         replies("\x06PLF110VN")},
        {});
    row("a flood of requests nobody reads delays neither the panel nor the end", {},
        {{Step::Flood, {}, "5000"},
         {Step::Pause, {}, "1000"},
         {Step::Prompt, "state", "1000"},
         {Step::Prompt, "state", "1000"},
         {Step::Signal, "TERM", "3000"}},
        {});
    row("answers nobody reads stop the control socket reading", {},
        {{Step::ControlFlood, {}, "1000"}, {Step::Prompt, "state", "1000"}}, {});
    row("a control line over the limit is refused whole", {},
        {control(QByteArray(255, 'x') + " paper out", "erro: linha longa demais"),
         control("state", "\"paper\":\"in\"")},
        {});
    row("SIGHUP ends it as SIGTERM does", {},
        {writes("linha\n"), {Step::Pause, {}, "200"}, {Step::Signal, "HUP", "10000"}}, "linha\n");
}

// Receipts a Python script and the expected text build alike: lines of 48
// characters at most, so that each prints as one line.
QString numberedLines(int count, int width) {
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("%1 %2\n").arg(i, 5, 10, QLatin1Char('0')).arg(QString(width, 'x'));
    return text;
}

Step python(const char* script) {
    return {Step::Python, script, {}};
}

// tellumo-printer as a serial device server, driven by a client nobody here
// wrote: pyserial's RFC 2217 client.
template <typename Row> void rfc2217Rows(const Row& row) {
    const QStringList rfc2217{"--rfc2217", "127.0.0.1:0", "--speed", "0"};
    row("pyserial over RFC 2217: 9600 8N1 acknowledged, CTS follows the panel, a receipt whole",
        rfc2217, {python(R"(
p = rfc2217(baudrate=9600)
s = state()['rfc2217']
assert s['settings'] == '9600,8N1' and s['client'], s
assert p.cts and p.dsr and p.cd
for command, cts in (('paper out', False), ('paper in', True), ('offline on', False),
                     ('offline off', True)):
    assert ask(command) == 'ok'
    assert until(lambda: p.cts == cts), command
p.write(b''.join(b'%05d %s\n' % (i, b'x' * 20) for i in range(300)))
close(p)
assert until(lambda: state()['rfc2217']['client'] is None, 10)
)")},
        numberedLines(300, 20));
    row("pyserial with hardware flow control: 64 kB written during paper out are held, then "
        "printed whole",
        rfc2217, {python(R"(
p = rfc2217(baudrate=9600, rtscts=True)
assert ask('paper out') == 'ok' and until(lambda: not p.cts)
writer = threading.Thread(target=lambda: p.write(
    b''.join(b'%05d %s\n' % (i, b'x' * 41) for i in range(1366))))
writer.start()
time.sleep(1)
buffer = state()['buffer']
assert buffer['fill'] == 0 and buffer['lost'] == 0, buffer
assert ask('paper in') == 'ok'
writer.join(30)
close(p)
assert until(lambda: state()['rfc2217']['client'] is None, 30)
)")},
        numberedLines(1366, 41));
    row("pyserial at 19200 bit/s on a 9600 bit/s printer: line noise, one line-mismatch",
        rfc2217 + QStringList{"--events", "EVENTS"}, {python(R"(
p = rfc2217(baudrate=19200)
p.write(b'ruido\n' * 10)
time.sleep(0.3)
p.write(b'mais\n')
assert until(lambda: state()['rfc2217']['noise'] == 65, 5), state()
p.close()
mismatch = events()
assert mismatch.count('"name":"line-mismatch"') == 1, mismatch
assert '"client":"19200,8N1","printer":"9600,8N1"' in mismatch, mismatch
)")},
        "");
}

// tellumo-printer as a network receipt printer, driven by plain sockets.
template <typename Row> void rawTcpRows(const Row& row) {
    row("a raw TCP client prints and is answered; the next one waits until it closes",
        {"--listen", "0", "--speed", "0"}, {python(R"(
port = int(state()['listen']['address'].rsplit(':', 1)[1])
first = socket.create_connection(('127.0.0.1', port))
second = socket.create_connection(('127.0.0.1', port))
second.sendall(b'second\n')
first.sendall(b'first\n\x1bv')
assert first.recv(9) == b'\x06PLF110VN'
time.sleep(0.3)
assert state()['listen']['client'] == '127.0.0.1:%d' % first.getsockname()[1], state()
first.close()
assert until(lambda: state()['listen']['client'] == '127.0.0.1:%d' % second.getsockname()[1])
second.close()
assert until(lambda: state()['listen']['client'] is None)
)")},
        "first\nsecond\n");
    row("a raw TCP client that pours bytes without pause delays neither the panel nor the end",
        {"--listen", "0", "--speed", "0"},
        {python(R"(
port = int(state()['listen']['address'].rsplit(':', 1)[1])
flood = socket.create_connection(('127.0.0.1', port))
def pour():
    try:
        while True:
            flood.sendall(b'receipt line ' * 1000)
    except OSError:
        pass
threading.Thread(target=pour, daemon=True).start()
time.sleep(1)
for _ in range(3):
    start = time.monotonic()
    assert state()['listen']['client']
    assert time.monotonic() - start < 1, time.monotonic() - start
)"),
         {Step::Signal, "TERM", "3000"}},
        {});
}
// What the printer holds, what it writes and when, and the line it checks.
template <typename Row> void bufferRows(const Row& row) {
    // 20 kB: under the sanitizers a page at four pixels a dot takes seconds.
    // Held, the port would be deaf for all of them; the 100 ms target is
    // bench_printer_save's, on the 200 kB roll.
    row("a save of a long roll at four pixels a dot leaves the network port answering",
        {"--listen", "0", "--png", "PNG", "--png-scale", "4", "--speed", "0"},
        {writes(numberedLines(500, 34).toLatin1()), python(R"(
port = int(state()['listen']['address'].rsplit(':', 1)[1])
client = socket.create_connection(('127.0.0.1', port))
saved, longest = [], 0
threading.Thread(target=lambda: saved.append(ask('save')), daemon=True).start()
while not saved:
    start = time.monotonic()
    client.sendall(b'\x1bv')
    answer = b''
    while len(answer) < 9:
        answer += client.recv(9 - len(answer))
    longest = max(longest, time.monotonic() - start)
    time.sleep(0.05)
assert saved == ['ok'] and longest <= 0.5, (saved, longest)
)")},
        numberedLines(500, 34), Log::Discarded, 5);
    row("pyserial at 19200 bit/s on the terminal of a 9600 bit/s printer: line noise, one "
        "line-mismatch",
        {"--events", "EVENTS", "--speed", "0"}, {python(R"(
p = serial.Serial(state()['terminal']['path'], 19200)
p.write(b'ruido\n' * 10)
assert until(lambda: state()['terminal']['noise'] == 60, 5), state()
p.write(b'mais\n')
assert until(lambda: state()['terminal']['noise'] == 65, 5), state()
p.close()
mismatch = events()
assert mismatch.count('"name":"line-mismatch"') == 1, mismatch
assert '"client":"19200,8N1","printer":"9600,8N1"' in mismatch, mismatch
)")},
        "");
    row("no output asked, no paper spooled to disk", {"--speed", "0"},
        {writes(QByteArray("linha\n").repeated(2000)), python(R"(
s = socket.socket(socket.AF_UNIX)
s.connect(os.environ['CONTROL'])
pid = struct.unpack('3i', s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0]
files = [os.readlink('/proc/%d/fd/%s' % (pid, fd)) for fd in os.listdir('/proc/%d/fd' % pid)]
import tempfile
assert not [f for f in files if f.startswith(tempfile.gettempdir())], files
)")},
        {});
}
} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(Log)

class PrinterProgramTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder;
    int liveTerminal = -1;

public:
    ~PrinterProgramTest() override {
        for (const int fd : {liveTerminal, busySocket})
            if (fd >= 0)
                ::close(fd);
    }

private:
    int busySocket = -1;

    // A TCP port on the loopback address that something listens on.
    int busyPort() {
        busySocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(busySocket, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(busySocket, 1);
        ::getsockname(busySocket, reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }

    // A link such as another running printer's: to a terminal that is open.
    QString livePrinterLink() {
        if (liveTerminal < 0)
            liveTerminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(liveTerminal);
        ::unlockpt(liveTerminal);
        const QString link = folder.filePath(QStringLiteral("live-link"));
        QFile::link(QString::fromLocal8Bit(::ptsname(liveTerminal)), link);
        return link;
    }

private slots:
    void aLongReceiptWrittenInOneGoIsPrintedWhole() {
        const QByteArray bytes = receipt();
        QVERIFY(bytes.size() > 6000);
        const QString text = folder.filePath(QStringLiteral("receipt.txt"));
        PrinterProgram printer({"--speed", "200", "--text", text});
        QVERIFY2(!printer.path.isEmpty(), qPrintable(printer.output));
        QVERIFY(printer.openTerminal());
        QVERIFY(printer.write(bytes));
        // The printer takes what it has room for; the rest waits in the
        // terminal until printing makes room.
        QTRY_COMPARE_WITH_TIMEOUT((printer.waitForOutput(100), printer.receivedBytes()),
                                  int(bytes.size()), 20000);
        QVERIFY(printer.stop());
        QCOMPARE(printer.process.exitCode(), 0);
        QVERIFY2(!printer.output.contains(QStringLiteral("perdido")), qPrintable(printer.output));
        QCOMPARE(read(text), QString::fromLatin1(bytes));
        // Stamped with the wall clock, as the window's log is.
        QVERIFY(printer.output.contains(
            QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d <- 4D 45 52"),
                               QRegularExpression::MultilineOption)));
    }

    void repliesNobodyReadsAreDroppedAndStoppingStaysPrompt() {
        const QString png = folder.filePath(QStringLiteral("receipt.png"));
        PrinterProgram printer({"--png", png});
        QVERIFY2(!printer.path.isEmpty(), qPrintable(printer.output));
        QVERIFY(printer.openTerminal());
        // More status replies than the terminal holds, and never read.
        QVERIFY2(printer.write(QByteArray("\x1bv").repeated(5000)), "the printer stopped reading");
        QVERIFY(printer.write("still printing\n"));
        QVERIFY2(printer.waitFor(QRegularExpression(QStringLiteral("! .*descartada"))),
                 qPrintable(printer.output.right(2000)));
        QVERIFY2(printer.stop(), "SIGTERM did not end the printer");
        QCOMPARE(printer.process.exitCode(), 0);
        QVERIFY(QFile::exists(png));
    }

    void whatCannotWorkIsRefusedAtStart_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QString missing = folder.filePath(QStringLiteral("missing/receipt"));
        QTest::newRow("--png into a missing folder")
            << QStringList{"--png", missing + ".png"} << 2 << "does not exist";
        QTest::newRow("--text into a missing folder")
            << QStringList{"--text", missing + ".txt"} << 2 << "does not exist";
        QTest::newRow("--text onto a folder")
            << QStringList{"--text", folder.path()} << 2 << "is a folder";
        QTest::newRow("--png-scale past the window's look")
            << QStringList{"--png-scale", "5"} << 2 << "are 1 to 4";
        QTest::newRow("--speed not a number") << QStringList{"--speed", "fast"} << 2 << "--speed";
        QTest::newRow("--speed above 1000, not cut to it")
            << QStringList{"--speed", "1001"} << 2 << "from 0.1 to 1000";
        QTest::newRow("--speed negative")
            << QStringList{"--speed", "-1"} << 2 << "from 0.1 to 1000";
        QTest::newRow("--link onto a file")
            << QStringList{"--link", QStringLiteral(TELLUMO_PRINTER)} << 2
            << "is not a symbolic link";
        const QString usersLink = folder.filePath(QStringLiteral("users-link"));
        QFile::link(QStringLiteral("/dev/null"), usersLink);
        QTest::newRow("--link onto a link of the user's")
            << QStringList{"--link", usersLink} << 2 << "not a link to a terminal";
        QTest::newRow("--link onto a link to a terminal in use")
            << QStringList{"--link", livePrinterLink()} << 2 << "in use";
        const QString busy = QStringLiteral("127.0.0.1:%1").arg(busyPort());
        QTest::newRow("--listen on a port in use")
            << QStringList{"--listen", busy} << 2 << "--listen 127.0.0.1:";
        QTest::newRow("--rfc2217 with a host name")
            << QStringList{"--rfc2217", "printer.example:2217"} << 2 << "HOST an IP address";
        QTest::newRow("--http on a port in use") << QStringList{"--http", busy} << 2 << "--http ";
        QTest::newRow("--line with 9 data bits")
            << QStringList{"--line", "9600,9N1"} << 2 << "--line 9600,9N1: give RATE,DPS";
        QTest::newRow("--idle-timeout of 0 seconds, not taken as none")
            << QStringList{"--idle-timeout", "0"} << 2 << "1 to 86400";
        QTest::newRow("--control into a missing folder")
            << QStringList{"--control", missing + ".sock"} << 2 << "does not exist";
        QTest::newRow("--events into a missing folder")
            << QStringList{"--events", missing + ".jsonl"} << 2 << "does not exist";
        QTest::newRow("--help with --window, without a display")
            << QStringList{"--window", "--help"} << 0 << "--text <FILE>";
        QTest::newRow("--version without a display")
            << QStringList{"--window", "--version"} << 0 << "tellumo-printer 3.3";
    }
    void whatCannotWorkIsRefusedAtStart() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QProcess process;
        // No display to be had: a program that reached for one would abort.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TELLUMO_PRINTER), arguments);
        QVERIFY(process.waitForFinished(20000));
        const QString all = QString::fromLocal8Bit(process.readAllStandardOutput() +
                                                   process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == exitCode, qPrintable(all));
        QVERIFY2(all.contains(said), qPrintable(all));
        QVERIFY(!all.contains(QStringLiteral(" em /dev/pts/"))); // never started
    }

    // What a script does to a printer that stands in for a real one: whatever
    // it sends, the printer keeps taking bytes, answers as a port does, and
    // the text holds every line, marked so that a golden file can hold it.
    void drivenAsATestSuiteDrivesIt_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("log");
        QTest::addColumn<Script>("script");
        QTest::addColumn<QString>("text"); // the --text file at the end; null: not checked
        QTest::addColumn<int>("pages");    // of --png; 0: none asked
        const QByteArray status = "\x1bv", model = "\x1bI1";
        const QByteArray modelReply = "\x06" + VirtualPrinter::DualModelName;
        const QStringList fast{"--speed", "0"};
        const auto row = [](const char* name, QStringList arguments, Script script,
                            const QString& text, Log log = Log::Discarded, int pages = 0) {
            QTest::newRow(name) << arguments << int(log) << script << text << pages;
        };
        row("an unfinished line and 5000 NULs do not jam it", fast,
            {writes("A" + QByteArray(5000, '\0') + "\nafter\n" + status), replies("\x06PLF110VN")},
            "A\nafter\n");
        row("2000 status polls inside one line are all answered", fast,
            {writes("A" + status.repeated(2000)),
             replies(QByteArray("\x06PLF110DN").repeated(2000)), writes("B\n")},
            "AB\n");
        QByteArray many;
        QString manyText;
        for (int i = 1; i <= 25000; ++i) {
            many += QByteArray::number(i) + '\n';
            manyText += QString::number(i) + '\n';
        }
        row("every line of a roll of 25000, and the unfinished one noted", fast,
            {writes(many + "tail")}, manyText + QStringLiteral("[linha não terminada] tail\n"));
        row("a reply left unread is gone when the port is opened again", {},
            {writes(status),
             {Step::Unread, {}, {}},
             {Step::Reopen, {}, {}},
             {Step::Pause, {}, "100"}, // the printer sees the close a moment later
             writes(model),
             replies(modelReply)},
            {});
        row("a reply unread past the write time-out is dropped", {"--events", "EVENTS"},
            {writes(status),
             {Step::Unread, {}, {}},
             {Step::Pause, {}, "2500"},
             writes(model),
             replies(modelReply),
             {Step::Pause, {}, "100"}, // the printer sees the read a moment later
             control("save"),
             {Step::Events, {}, "\"reply-dropped\",\"text\":\"1 resposta(s) descartada(s), 9 byte"},
             {Step::Events, "absent", R"("dir":"out","hex":"06 50 4C 46)"},
             {Step::Events, {}, R"("dir":"out","hex":"06 4B 6F 72)"}},
            {});
        const QByteArray receipt = QByteArray("linha\n").repeated(20000);
        row("a log nobody reads stops nothing", fast, {writes(receipt)},
            QString::fromLatin1(receipt), Log::Stalled);
        row("a log read by `head -1` kills nothing", fast, {writes(receipt)},
            QString::fromLatin1(receipt), Log::FirstLineOnly);
        row("modes, events and literal markers are marked", fast,
            {writes("{B0} [imagem]\n[x\n\x1bW1big\x1bMn\n\x1b"
                    "E"
                    "e\n\x1b"
                    "d\x02\f" +
                    QByteArray("\x1bp\x00\x0a\x0a\x1b@\x1bx", 9) + "AB"),
             {Step::Pause, {}, "1000"},
             control("reset"),
             writes("ok\n")},
            QStringLiteral("{{B0} [imagem]\n[[x\n{WE}big{N}n\n{E}e\n[fim de página]\n"
                           "[gaveta aberta]\n[reset]\n[modo dump]\n41 42") +
                QString(20, ' ') + QStringLiteral("AB\nok\n"));
        QFile sample(QStringLiteral(TELLUMO_SOURCE "/docs/samples/fita-20000-bytes.txt"));
        sample.open(QIODevice::ReadOnly);
        row("the 20000-byte sample in PNG pages, every line", fast + QStringList{"--png", "PNG"},
            {writes(sample.readAll()), control("save")}, {}, Log::Discarded, 5);
        row("the panel from the control socket", {"--events", "EVENTS"},
            {control("paper out"),
             writes(status),
             replies("\x06SLF110VN"),
             control("offline on"),
             writes(status),
             replies("\x06SFF110VN"),
             control("paper in"),
             control("offline off"),
             writes("\x1bx"),
             control("state", "\"dump\":true"),
             control("reset"),
             writes(status),
             replies("\x06PLF110VN"),
             control("model compatible"),
             writes("\x1bV"),
             replies("\x06PLF110VN"),
             control("speed 0"),
             control("speed 1001", "erro:"),
             control("paper", "erro:"),
             control("bogus", "erro:"),
             control("tear"),
             writes("after tear\n"),
             control("save"),
             {Step::Events, {}, R"("hex":"1B 76","ms":)"},
             {Step::Events, {}, R"("name":"status-request","text":"Pedido de status"})"},
             {Step::Events, {}, R"("name":"paper-out","text":"Sem papel","value":true})"}},
            "after tear\n");
        row("1300 feeds of 255 lines are 1300 jobs, not 331500 lines", {},
            {writes(QByteArray("\x1b"
                               "a\xff")
                        .repeated(1300)),
             {Step::Pause, {}, "500"}, // bytes are taken a share per turn
             control("state", "\"fill\":3900"),
             {Step::MemoryWithin, {}, "20000"}},
            {});
        terminalFaultRows(row);
        rfc2217Rows(row);
        rawTcpRows(row);
        bufferRows(row);
    }
    void drivenAsATestSuiteDrivesIt() {
        QFETCH(QStringList, arguments);
        QFETCH(int, log);
        QFETCH(Script, script);
        QFETCH(QString, text);
        QFETCH(int, pages);
        QTemporaryDir here;
        const QString textFile = here.filePath("receipt.txt");
        const QString png = here.filePath("receipt.png");
        const QString events = here.filePath("events.jsonl");
        arguments.replaceInStrings(QStringLiteral("PNG"), png);
        arguments.replaceInStrings(QStringLiteral("EVENTS"), events);
        // A row that does not check the text asks for none.
        if (!text.isNull())
            arguments << "--text" << textFile;
        ScriptedPrinter printer(here.path(), arguments, Log(log));
        for (const Step& step : script) {
            runStep(printer, step, here.path());
            if (QTest::currentTestFailed())
                return;
        }
        if (printer.process.state() != QProcess::NotRunning) {
            QTest::qWait(200); // the last bytes read in
            ::kill(pid_t(printer.process.processId()), SIGTERM);
            QVERIFY(printer.process.waitForFinished(30000));
        }
        QCOMPARE(printer.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(printer.process.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(printer.link()));
        if (!text.isNull())
            QCOMPARE(read(textFile), text);
        const int scale =
            std::max(1, arguments.value(arguments.indexOf("--png-scale") + 1).toInt());
        for (int page = 1; page <= pages + 1; ++page) {
            const QImage image(PaperPages::pagePath(png, page));
            QCOMPARE(!image.isNull(), page <= pages);
            if (page < pages && scale == 1) // whole pages of a hundred text lines, one pixel a dot
                QCOMPARE(image.height(), PaperPages::PageDots);
            if (page <= pages) // its size on paper: scale pixels to a dot of the head
                QCOMPARE(image.dotsPerMeterX(),
                         std::lround(PaperRoll::HeadDotsPerInch * scale / 0.0254));
        }
    }

    // The picture of the same bytes is the same file, whatever fonts the
    // machine has: a test suite's golden picture holds on any machine.
    void thePngIsTheSameWithOtherFonts_data() {
        QTest::addColumn<QString>("fontConfig"); // its <dir>, none for no fonts at all
        QTest::newRow("no fonts at all") << QString();
        QTest::newRow("only DejaVu") << QStringLiteral("/usr/share/fonts/truetype/dejavu");
    }
    void thePngIsTheSameWithOtherFonts() {
        QFETCH(QString, fontConfig);
        QProcess script;
        script.start(QStringLiteral("bash"), {QStringLiteral(TELLUMO_SOURCE "/docs/receipt.sh")});
        QVERIFY(script.waitForFinished(10000));
        const QByteArray receipt = script.readAllStandardOutput();
        QTemporaryDir here;
        QFile config(here.filePath("fonts.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(
            "<?xml version=\"1.0\"?>\n<fontconfig>" +
            (fontConfig.isEmpty() ? QByteArray() : "<dir>" + fontConfig.toUtf8() + "</dir>") +
            "</fontconfig>\n");
        config.close();
        QList<QByteArray> pictures;
        for (const bool otherFonts : {false, true}) {
            const QString png = here.filePath(QStringLiteral("receipt-%1.png").arg(otherFonts));
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            if (otherFonts)
                environment.insert(QStringLiteral("FONTCONFIG_FILE"), config.fileName());
            PrinterProgram printer({"--speed", "0", "--png", png}, environment);
            QVERIFY(printer.openTerminal());
            QVERIFY(printer.write(receipt));
            QTRY_COMPARE_WITH_TIMEOUT((printer.waitForOutput(100), printer.receivedBytes()),
                                      int(receipt.size()), 20000);
            QVERIFY(printer.stop());
            QFile file(png);
            QVERIFY(file.open(QIODevice::ReadOnly));
            pictures << file.readAll();
        }
        QVERIFY(!QImage::fromData(pictures[0]).isNull());
        QVERIFY(pictures[0] == pictures[1]);
    }

    // Where bytes can be lost (a host ignoring CTS on the in-process line),
    // every loss is counted and logged, not only the first of an overrun.
    void everyLossIsLogged() {
        VirtualPrinter printer;
        printer.setOffline(true);
        QStringList warnings;
        connect(&printer, &VirtualPrinter::logged, this, [&](const PrinterLogEntry& entry) {
            if (entry.kind == PrinterLogEntry::Kind::Warning)
                warnings << entry.text;
        });
        for (int i = 0; i < 4; ++i)
            printer.receive(QByteArray(2000, 'x'));
        QCOMPARE(printer.lostBytes(), 8000 - printer.bufferSize());
        QCOMPARE(warnings, (QStringList{"Buffer cheio: 1904 byte(s) perdido(s)",
                                        "Buffer cheio: 2000 byte(s) perdido(s)"}));
    }

    void paperTextMarksWhatTextCannotCarry() {
        VirtualPrinter printer;
        QByteArray bytes = "\x1b#\xB3" + QByteArray(9, '\x55') + "x\xB3y\n";
        bytes += QByteArray("\x1b*\x00\x02\x00\x01\x80", 7);
        bytes += QByteArray("\x1b"
                            "c\x02Pago\n",
                            8) +
                 QByteArray("\x1bp\x00\x0a\x0a", 5);
        bytes += "\n\xE9 fim\n";
        printer.receive(bytes);
        printer.advance(600000);
        QCOMPARE(paperText(printer.paper().lines()),
                 QStringLiteral("x{B3}y\n"
                                "[imagem 4 pontos crc B27D]\n"
                                "[autenticação Título e Documento] Pago\n"
                                "[gaveta aberta]\n"
                                "\n"
                                "é fim\n"));
    }
};

QTEST_GUILESS_MAIN(PrinterProgramTest)
#include "tst_printerprogram.moc"
