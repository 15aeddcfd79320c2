// tellumo-printer against the clients a test double meets: programs under
// test, buggy by definition. Each row is a client that once wedged a port,
// left it deaf, held memory without bound or was told something untrue,
// played by a Python script (plain sockets, telnet bytes, pyserial, socat)
// against the running program; every row also ends it with SIGTERM and
// finds nothing on its standard error.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// What every script starts with: the panel (ask, state and until from
// printer_panel.py, events; of these, the status reply bytes made, logged
// as sent and as dropped), the printer's memory (rss, in kB), the ports (tcp, rfc2217 with pyserial,
// telnet for RFC 2217 spoken byte by byte: com sends a COM-PORT-OPTION
// command, heard collects what comes for a while).
const char Prelude[] = R"(
import json, os, socket, subprocess, sys, threading, time
import serial
from printer_panel import ask, events, state, until
def replies():
    log = [json.loads(line) for line in events().splitlines()]
    made = sum(e['name'] == 'status-request' for e in log) * 9
    sent = sum(len(e['hex'].split()) for e in log if e['dir'] == 'out')
    dropped = sum(e['value'] for e in log if e['name'] == 'reply-dropped')
    return made, sent, dropped
def rss():
    status = open('/proc/%s/status' % os.environ['PRINTER']).read()
    return int(status.split('VmRSS:')[1].split()[0])
def port(kind):
    return int(state()[kind]['address'].rsplit(':', 1)[1])
def tcp(kind='listen', host='127.0.0.1'):
    return socket.create_connection((host, port(kind)))
def rfc2217(**options):
    return serial.serial_for_url('rfc2217://127.0.0.1:%d' % port('rfc2217'), timeout=1,
                                 **options)
def telnet():
    s = tcp('rfc2217')
    s.sendall(bytes([255, 251, 44]))
    return s
def com(s, code, value):
    s.sendall(bytes([255, 250, 44, code]) + value + bytes([255, 240]))
def answer(code, value):
    return bytes([255, 250, 44, code + 100]) + value + bytes([255, 240])
def heard(s, seconds, until_bytes=None):
    s.settimeout(0.02)
    got = b''
    end = time.monotonic() + seconds
    while time.monotonic() < end and not (until_bytes and until_bytes in got):
        try:
            got += s.recv(65536)
        except socket.timeout:
            pass
    return got
)";

} // namespace

class TestMisbehavingClients : public QObject {
    Q_OBJECT
private slots:
    void theClientCannotWedgeDeafenOrFoolThePrinter_data();
    void theClientCannotWedgeDeafenOrFoolThePrinter();
};

void TestMisbehavingClients::theClientCannotWedgeDeafenOrFoolThePrinter_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("descriptors"); // the printer's RLIMIT_NOFILE; 0: as it is
    QTest::addColumn<bool>("isolated");   // in a network namespace of its own
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("text"); // the paper at the end; null: not checked
    const QStringList rfc2217{"--rfc2217", "127.0.0.1:0", "--speed", "0"};
    const QStringList raw{"--listen", "127.0.0.1:0", "--speed", "0"};
    const auto row = [](const char* name, const QStringList& arguments, const char* script,
                        const QString& text, int descriptors = 0, bool isolated = false) {
        QTest::newRow(name) << arguments << descriptors << isolated << QByteArray(script) << text;
    };
    row("data during a BREAK waits for its end; the next client is served", rfc2217, R"(
p = rfc2217(baudrate=9600)
p.break_condition = True
p.write(b'during\n')
time.sleep(0.3)
assert state()['buffer']['fill'] == 0
p.break_condition = False
p.write(b'after\n')
p.close()
q = rfc2217(baudrate=9600)
q.write(b'next\n')
q.close()
assert until(lambda: state()['rfc2217']['client'] is None, 5)
)",
        "during\nafter\nnext\n");
    // Ten descriptors over what the printer needs: the control clients take
    // them all, and the TCP client waits in the backlog until they close,
    // the printer idle meanwhile. The paths are run once before: the
    // undefined-behaviour sanitizer's first look at an object's type needs a
    // descriptor, and takes the lack of one for a fault.
    row("out of descriptors: every listener serves again once they are free", raw, R"(
w = tcp()
w.sendall(b'warm\n\x1bv')
assert w.recv(9) and ask('state')
address = w.getpeername()
w.close()
held = []
for _ in range(30):
    s = socket.socket(socket.AF_UNIX)
    s.setblocking(False)
    try:
        s.connect(os.environ['CONTROL'])
    except BlockingIOError:
        pass
    held.append(s)
time.sleep(0.5)
c = socket.create_connection(address)
c.sendall(b'first\n\x1bv')
cpu = lambda: sum(map(int, open('/proc/%s/stat' % os.environ['PRINTER']).read().split()[13:15]))
start = cpu()
time.sleep(1)
assert cpu() - start < 20, cpu() - start
for s in held:
    s.close()
c.settimeout(5)
assert c.recv(9) == b'\x06PLF110VN'
assert os.path.exists(os.environ['CONTROL'])
c.close()
)",
        "warm\nfirst\n", -10);
    row("the control socket refuses the client over its limit in an error line", {}, R"(
held = [socket.socket(socket.AF_UNIX) for _ in range(16)]
for s in held:
    s.connect(os.environ['CONTROL'])
extra = socket.socket(socket.AF_UNIX)
extra.connect(os.environ['CONTROL'])
assert extra.makefile().readline().startswith('erro: clientes demais'), 'not refused'
held[0].sendall(b'state\n')
assert held[0].makefile().readline().startswith('{')
for s in held:
    s.close()
assert until(lambda: ask('state').startswith('{'), 2)
)",
        {});
    row("a half-closed client (socat) gets its reply, logged as sent",
        raw + QStringList{"--events", "EVENTS"}, R"(
out = subprocess.run(['socat', '-', 'TCP:127.0.0.1:%d' % port('listen')], input=b'\x1bv',
                     capture_output=True, timeout=10).stdout
assert out == b'\x06PLF110VN', out
assert replies() == (9, 9, 0), replies()
)",
        {});
    row("a client reset with replies due: reply-dropped, and no Qt warning",
        raw + QStringList{"--events", "EVENTS"}, R"(
import struct
c = socket.socket()
c.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 2048)
c.connect(('127.0.0.1', port('listen')))
c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
c.settimeout(1)
try:
    while True:  # until the printer, its replies unread, is busy
        c.sendall(b'\x1bv' * 1024)
except socket.timeout:
    pass
c.close()
assert until(lambda: state()['listen']['client'] is None, 10)
made, sent, dropped = replies()
assert dropped > 0 and sent + dropped == made, (made, sent, dropped)
)",
        {});
    // A printer's buffer is about 13 s of 40-byte lines at the default
    // speed; what the port acknowledged beyond it would print on and on.
    row("a client resets during a long print: what the printer holds prints, no more",
        {"--listen", "127.0.0.1:0"}, R"(
import struct
c = tcp()
c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
c.settimeout(1)
try:
    while True:
        c.sendall(b'x' * 39 + b'\n')
except socket.timeout:
    pass
c.close()
def printed():
    assert ask('save') == 'ok'
    return open(os.environ['FOLDER'] + '/paper.txt').read().count('\n')
time.sleep(20)
before = printed()
time.sleep(1.5)
assert before > 0 and printed() == before, (before, printed())
)",
        {});
    row("FLOWCONTROL-SUSPEND without RESUME: the printer goes busy, memory stays flat",
        rfc2217 + QStringList{"--events", "EVENTS"}, R"(
s = telnet()
com(s, 8, b'')
s.setblocking(False)
def requests(seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            s.send(b'\x1bv' * 4096)
        except BlockingIOError:
            time.sleep(0.005)
requests(1)
start = rss()
requests(2)
assert rss() - start < 5000, rss() - start
assert state()['rfc2217']['cts'] is False
made, sent, dropped = replies()  # all held: none sent, none dropped yet
assert made > 0 and sent == dropped == 0, (made, sent, dropped)
s.close()
)",
        {});
    // Answered within the second heard() waits: a port that stopped reading
    // behind the held job would never answer. No tighter bound: the machine
    // running the suite may be busy.
    row("CTS off under hardware flow control: PURGE-DATA and SET-CONTROL answered, the job held",
        rfc2217 + QStringList{"--events", "EVENTS"},
        R"(
s = telnet()
com(s, 5, b'\x03')
assert answer(5, b'\x03') in heard(s, 1, answer(5, b'\x03'))
assert ask('paper out') == 'ok'
s.sendall(b'held job\n' * 200)
time.sleep(0.3)
com(s, 12, b'\x02')
com(s, 5, b'\x0b')
got = heard(s, 1, answer(5, b'\x0b'))
assert answer(12, b'\x02') in got and answer(5, b'\x0b') in got, got
assert ask('paper in') == 'ok'
s.sendall(b'after\n\x1bv')
assert b'\x06PLF' in heard(s, 2, b'\x06PLF')
assert replies() == (9, 9, 0), replies()  # told apart from the lines' notifications
s.close()
assert until(lambda: state()['rfc2217']['client'] is None, 5)
)",
        "after\n");
    row("an idle client is closed and the next one served",
        raw + QStringList{"--idle-timeout", "1", "--events", "EVENTS"}, R"(
first = tcp()
second = tcp()
second.sendall(b'second\n')
first.sendall(b'first\n')
first.settimeout(5)
assert first.recv(1) == b''
assert until(lambda: state()['listen']['client'] == '127.0.0.1:%d' % second.getsockname()[1], 2)
assert '"name":"idle-timeout"' in events()
)",
        "first\nsecond\n");
    row("4 000 000 000 bit/s is not acknowledged as set", rfc2217, R"(
s = telnet()
com(s, 1, (4000000000).to_bytes(4, 'big'))
rate = answer(1, (9600).to_bytes(4, 'big'))
assert rate in heard(s, 2, rate)
)",
        {});
    row("a modem-state mask of 0: no NOTIFY-MODEMSTATE", rfc2217, R"(
s = telnet()
com(s, 11, b'\x00')
got = heard(s, 2, answer(11, b'\x00')).split(answer(11, b'\x00'), 1)[1]
assert ask('paper out') == 'ok' and ask('paper in') == 'ok'
got += heard(s, 0.5)
assert bytes([255, 250, 44, 107]) not in got, got
)",
        {});
    row("7 data bits sending 8-bit bytes: line-mismatch, nothing printed",
        rfc2217 + QStringList{"--line", "9600,7N1", "--events", "EVENTS"}, R"(
p = rfc2217(baudrate=9600, bytesize=7)
p.write('pão\n'.encode('latin-1'))
time.sleep(0.3)
p.close()
assert until(lambda: state()['rfc2217']['client'] is None, 5)
assert '"name":"line-mismatch"' in events()
)",
        "");
    row("[::] takes IPv4 and IPv6 clients", {"--listen", "[::]:0", "--speed", "0"}, R"(
for host in ('127.0.0.1', '::1'):
    c = tcp('listen', host)
    c.sendall(host.encode() + b'\n')
    c.close()
    assert until(lambda: state()['listen']['client'] is None, 5)
)",
        "127.0.0.1\n::1\n", 0, true);
}

void TestMisbehavingClients::theClientCannotWedgeDeafenOrFoolThePrinter() {
    QFETCH(QStringList, arguments);
    QFETCH(int, descriptors);
    QFETCH(bool, isolated);
    QFETCH(QByteArray, script);
    QFETCH(QString, text);
    QTemporaryDir folder;
    const QString control = folder.filePath("control"), paper = folder.filePath("paper.txt");
    arguments.replaceInStrings(QStringLiteral("EVENTS"), folder.filePath("events.jsonl"));
    arguments << "--control" << control << "--text" << paper;

    QProcess printer;
    printer.setStandardOutputFile(QProcess::nullDevice());
    QProcessEnvironment printerEnvironment = QProcessEnvironment::systemEnvironment();
    printerEnvironment.insert("XDG_RUNTIME_DIR", folder.path());
    if (descriptors < 0) {
        // Its own need, measured on a printer started alike, and the extra.
        QProcess probe;
        probe.setStandardOutputFile(QProcess::nullDevice());
        probe.start(QStringLiteral(TELLUMO_PRINTER), arguments);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(control), 20000);
        descriptors = -descriptors + int(QDir(QStringLiteral("/proc/%1/fd").arg(probe.processId()))
                                             .entryList(QDir::Files | QDir::System)
                                             .size());
        probe.terminate();
        QVERIFY(probe.waitForFinished(10000));
    }
    printer.setProcessEnvironment(printerEnvironment);
    printer.setChildProcessModifier([descriptors] {
        if (descriptors > 0) {
            const rlimit limit{rlim_t(descriptors), rlim_t(descriptors)};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
    // An address of every interface only where the loopback is all there is.
    if (isolated)
        printer.start(QStringLiteral("unshare"),
                      QStringList{"-rn", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\"",
                                  TELLUMO_PRINTER} +
                          arguments);
    else
        printer.start(QStringLiteral(TELLUMO_PRINTER), arguments);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(control), 20000);

    QProcess python;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CONTROL", control);
    environment.insert("FOLDER", folder.path());
    environment.insert("PYTHONPATH", TELLUMO_SOURCE "/tests/sim");
    environment.insert("PRINTER", QString::number(printer.processId()));
    python.setProcessEnvironment(environment);
    QStringList command{"/usr/bin/python3", "-c", QString::fromUtf8(Prelude + script)};
    if (isolated)
        command = QStringList{"nsenter", "--preserve-credentials",
                              "-U",      "-n",
                              "-t",      QString::number(printer.processId())} +
                  command;
    python.start(command.takeFirst(), command);
    const bool ended = python.waitForFinished(60000);
    const QByteArray said = python.readAllStandardOutput() + python.readAllStandardError();
    QVERIFY2(ended && python.exitCode() == 0, said.constData());

    ::kill(pid_t(printer.processId()), SIGTERM);
    QVERIFY2(printer.waitForFinished(5000), "SIGTERM did not end it");
    QCOMPARE(printer.exitCode(), 0);
    const QByteArray warnings = printer.readAllStandardError();
    QVERIFY2(warnings.isEmpty(), warnings.constData());
    QFile written(paper);
    if (!text.isNull() && written.open(QIODevice::ReadOnly))
        QCOMPARE(QString::fromUtf8(written.readAll()), text);
}

QTEST_GUILESS_MAIN(TestMisbehavingClients)
#include "tst_misbehavingclients.moc"
