// tellumo-printer: the virtual printer on a pseudo-terminal, for any serial
// program. Prints the terminal's path, logs what it receives and replies,
// optionally shows the printer's window, and writes the paper as PNG when it
// ends (Ctrl+C, SIGTERM, or the window closed).
#include "sim/HexDump.h"
#include "sim/PaperRenderer.h"
#include "sim/PrinterClock.h"
#include "sim/PtyServer.h"
#include "sim/VirtualPrinter.h"
#include "sim/VirtualPrinterWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void requestStop(int) {
    const char b = 1;
    [[maybe_unused]] const auto n = ::write(stopPipe[1], &b, 1);
}

QString hexText(const QByteArray& bytes) {
    return hexDumpLine(bytes, 0);
}

void print(const QString& line) {
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    // Without its window the printer needs fonts, not a display: it runs
    // anywhere, a bare terminal included.
    bool window = false;
    for (int i = 1; i < argc; ++i)
        window = window || QByteArray(argv[i]) == "--window";
    if (!window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tellumo-printer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELLUMO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves the Korvexa Dual emulation on a pseudo-terminal."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption png(QStringLiteral("png"),
                                 QStringLiteral("Write the paper to FILE as PNG at exit."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption compatible(
        QStringLiteral("compatible"),
        QStringLiteral("Emulate the 40/48-column compatible model (Korvex BM  40/48)."));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Print speed in lines per second (default 8)."),
                                   QStringLiteral("LINES"));
    const QCommandLineOption showWindow(QStringLiteral("window"),
                                        QStringLiteral("Show the printer's window."));
    parser.addOptions({png, compatible, speed, showWindow});
    parser.process(app);

    VirtualPrinter printer(parser.isSet(compatible) ? PrinterModel::Compatible
                                                    : PrinterModel::KorvexaDual);
    if (parser.isSet(speed)) {
        bool ok = false;
        const double lines = parser.value(speed).toDouble(&ok);
        if (!ok || lines <= 0) {
            std::fprintf(stderr, "--speed needs a positive number of lines per second\n");
            return 2;
        }
        printer.setLinesPerSecond(lines);
    }
    QObject::connect(&printer, &VirtualPrinter::logged, [&](const PrinterLogEntry& entry) {
        const QString time = QStringLiteral("%1").arg(entry.timeMs / 1000.0, 9, 'f', 3);
        switch (entry.kind) {
        case PrinterLogEntry::Kind::Received:
            for (qsizetype i = 0; i < entry.bytes.size(); i += 16)
                print(QStringLiteral("%1 <- %2").arg(time, hexText(entry.bytes.mid(i, 16))));
            break;
        case PrinterLogEntry::Kind::Sent:
            print(QStringLiteral("%1 -> %2").arg(time, hexText(entry.bytes)));
            break;
        case PrinterLogEntry::Kind::Command:
            print(QStringLiteral("%1    %2").arg(time, entry.text));
            break;
        case PrinterLogEntry::Kind::Warning:
            print(QStringLiteral("%1  ! %2").arg(time, entry.text));
            break;
        }
    });

    PtyServer server(&printer);
    QString error;
    if (!server.open(&error)) {
        std::fprintf(stderr, "tellumo-printer: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    PrinterClock clock(&printer);
    clock.start();

    if (::pipe2(stopPipe, O_CLOEXEC) != 0) {
        std::perror("tellumo-printer: pipe");
        return 1;
    }
    QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);

    std::unique_ptr<VirtualPrinterWindow> printerWindow;
    if (parser.isSet(showWindow)) {
        printerWindow = std::make_unique<VirtualPrinterWindow>(&printer);
        printerWindow->show();
    }

    print(QStringLiteral("Impressora virtual (%1) em %2")
              .arg(VirtualPrinter::modelText(printer.model()).simplified(), server.path()));
    app.exec();
    printerWindow.reset();

    // What was received but not yet printed still goes on the paper.
    printer.advance(24 * 3600 * 1000);
    if (parser.isSet(png)) {
        const QString file = parser.value(png);
        if (!PaperRenderer::render(printer.paper().lines(), 2.0).save(file, "PNG")) {
            std::fprintf(stderr, "tellumo-printer: cannot write %s\n",
                         file.toLocal8Bit().constData());
            return 1;
        }
        print(QStringLiteral("Papel salvo em %1").arg(file));
    }
    return 0;
}
