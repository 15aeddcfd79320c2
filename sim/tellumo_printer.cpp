// tellumo-printer: the virtual printer on a pseudo-terminal, for any serial
// program. Prints the terminal's path, logs what it receives and replies,
// optionally shows the printer's window, and writes the paper as PNG and as
// text when it ends (Ctrl+C, SIGTERM, or the window closed).
#include "sim/HexDump.h"
#include "sim/PaperRenderer.h"
#include "sim/PaperText.h"
#include "sim/PrinterClock.h"
#include "sim/PtyServer.h"
#include "sim/VirtualPrinter.h"
#include "sim/VirtualPrinterSetup.h"
#include "sim/VirtualPrinterWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTime>

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

void print(const QString& line) {
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

[[noreturn]] void refuse(const QString& why) {
    std::fprintf(stderr, "tellumo-printer: %s\n", why.toLocal8Bit().constData());
    std::exit(2);
}

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Serves the Korvexa Dual emulation on a pseudo-terminal."));
    parser.addOptions({
        {QStringLiteral("png"), QStringLiteral("Write the paper to FILE as PNG at exit."),
         QStringLiteral("FILE")},
        {QStringLiteral("text"),
         QStringLiteral("Write the paper to FILE as plain text at exit, one line per printed "
                        "line: {B0} for a user-defined character, [imagem ...] for a bit image."),
         QStringLiteral("FILE")},
        {QStringLiteral("compatible"),
         QStringLiteral("Emulate the 40/48-column compatible model (Korvex BM  40/48).")},
        {QStringLiteral("speed"), QStringLiteral("Print speed in lines per second (default 8)."),
         QStringLiteral("LINES")},
        {QStringLiteral("window"), QStringLiteral("Show the printer's window.")},
    });
}

// A file written at exit is checked at start, so a wrong path costs nothing printed.
void checkWritable(const QString& option, const QString& file) {
    const QFileInfo info(file);
    const QFileInfo folder(info.absolutePath());
    if (info.isDir())
        refuse(QStringLiteral("--%1 %2: is a folder, not a file").arg(option, file));
    if (!folder.isDir())
        refuse(QStringLiteral("--%1 %2: the folder %3 does not exist")
                   .arg(option, file, folder.filePath()));
    if (!folder.isWritable() || (info.exists() && !info.isWritable()))
        refuse(QStringLiteral("--%1 %2: not writable").arg(option, file));
}

void logEntry(const PrinterLogEntry& entry) {
    // The wall clock, as the window's log shows it.
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    switch (entry.kind) {
    case PrinterLogEntry::Kind::Received:
        for (qsizetype i = 0; i < entry.bytes.size(); i += 16)
            print(QStringLiteral("%1 <- %2").arg(time, hexDumpLine(entry.bytes.mid(i, 16), 0)));
        break;
    case PrinterLogEntry::Kind::Sent:
        print(QStringLiteral("%1 -> %2").arg(time, hexDumpLine(entry.bytes, 0)));
        break;
    case PrinterLogEntry::Kind::Command:
    case PrinterLogEntry::Kind::Event:
        print(QStringLiteral("%1    %2").arg(time, entry.text));
        break;
    case PrinterLogEntry::Kind::Warning:
        print(QStringLiteral("%1  ! %2").arg(time, entry.text));
        break;
    }
}

struct PrinterOptions {
    QString png;
    QString text;
    bool compatible = false;
    bool window = false;
    double linesPerSecond = VirtualPrinter::DefaultLinesPerSecond;
};

// Everything is read and checked before the window system is touched: --help
// works on a bare terminal, and a file that could not be written at the end
// is refused before anything is printed. Exits on a bad argument.
PrinterOptions parseArguments(int argc, char* argv[]) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tellumo-printer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELLUMO_VERSION));
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    describe(parser);
    parser.process(core);

    PrinterOptions options;
    options.png = parser.value(QStringLiteral("png"));
    options.text = parser.value(QStringLiteral("text"));
    options.compatible = parser.isSet(QStringLiteral("compatible"));
    options.window = parser.isSet(QStringLiteral("window"));
    for (const auto& [option, file] : {std::pair(QStringLiteral("png"), options.png),
                                       std::pair(QStringLiteral("text"), options.text)})
        if (parser.isSet(option))
            checkWritable(option, file);
    if (parser.isSet(QStringLiteral("speed"))) {
        bool ok = false;
        options.linesPerSecond = parser.value(QStringLiteral("speed")).toDouble(&ok);
        if (!ok || options.linesPerSecond <= 0)
            refuse(QStringLiteral("--speed needs a positive number of lines per second"));
    }
    return options;
}

bool writePaper(const VirtualPrinter& printer, const PrinterOptions& options) {
    bool ok = true;
    if (!options.png.isEmpty()) {
        const QString& file = options.png;
        if (PaperRenderer::render(printer.paper().lines(), 2.0).save(file, "PNG")) {
            print(QStringLiteral("Papel salvo em %1").arg(file));
        } else {
            std::fprintf(stderr, "tellumo-printer: cannot write %s\n", qPrintable(file));
            ok = false;
        }
    }
    if (!options.text.isEmpty()) {
        const QString& file = options.text;
        QSaveFile out(file);
        if (out.open(QIODevice::WriteOnly) &&
            out.write(paperText(printer.paper().lines()).toUtf8()) >= 0 && out.commit()) {
            print(QStringLiteral("Texto do papel salvo em %1").arg(file));
        } else {
            std::fprintf(stderr, "tellumo-printer: cannot write %s\n", qPrintable(file));
            ok = false;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    const PrinterOptions options = parseArguments(argc, argv);
    // Without its window the printer needs fonts, not a display: it runs
    // anywhere, a bare terminal included.
    if (!options.window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    VirtualPrinter printer(options.compatible ? PrinterModel::Compatible
                                              : PrinterModel::KorvexaDual);
    printer.setLinesPerSecond(options.linesPerSecond);
    QObject::connect(&printer, &VirtualPrinter::logged, logEntry);

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
    if (options.window) {
        printerWindow = std::make_unique<VirtualPrinterWindow>(&printer);
        showOnScreen(printerWindow.get(), nullptr);
    }

    print(QStringLiteral("Impressora virtual (%1) em %2")
              .arg(VirtualPrinter::modelText(printer.model()).simplified(), server.path()));
    app.exec();
    printerWindow.reset();

    // What was written to the printer before it stopped still goes on the paper.
    server.takeWaitingBytes();
    printer.advance(24 * 3600 * 1000);
    return writePaper(printer, options) ? 0 : 1;
}
