// tellumo-printer as a program on a real pseudo-terminal: a long receipt
// written in one go reaches the paper whole, a host that never reads the
// replies cannot stall it, and what it would lose at the end is refused at
// the start. Also the printer's losses where they can happen, and its text.
#include "sim/PaperText.h"
#include "sim/VirtualPrinter.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// tellumo-printer, running, with what it has printed on its standard output.
class PrinterProgram {
public:
    explicit PrinterProgram(const QStringList& arguments) {
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

    bool waitForOutput(int ms = 10000) {
        if (!process.waitForReadyRead(ms))
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
    // Writes everything, waiting while the terminal is full; false when the
    // printer stopped taking bytes for 10 s.
    bool write(const QByteArray& bytes) {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n =
                ::write(terminal, bytes.constData() + done, size_t(bytes.size() - done));
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

} // namespace

class PrinterProgramTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder;

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
        QTest::newRow("--speed not a number") << QStringList{"--speed", "fast"} << 2 << "--speed";
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
        QVERIFY(!all.contains(QStringLiteral("/dev/pts/")));
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
                                "\n"
                                "é fim\n"));
    }
};

QTEST_GUILESS_MAIN(PrinterProgramTest)
#include "tst_printerprogram.moc"
