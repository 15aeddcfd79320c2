// tellumo-printer's options: described for --help, read, and checked
// before anything starts.
#include "sim/serve/PrinterOptions.h"

#include "sim/paper/PaperPages.h"
#include "sim/serve/HttpPanel.h"
#include "sim/serve/NetworkPort.h"
#include "sim/serve/PrinterControl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

[[noreturn]] void refuse(const QString& why) {
    std::fprintf(stderr, "tellumo-printer: %s\n", why.toLocal8Bit().constData());
    std::exit(2);
}

namespace {

// What the printer writes and how it is worked.
void describeOutputs(QCommandLineParser& parser) {
    const auto file = QStringLiteral("FILE");
    parser.addOptions({
        {QStringLiteral("png"),
         QStringLiteral("Write the paper as PNG pages to FILE, FILE-2 ... on save and at exit."),
         file},
        {QStringLiteral("png-scale"),
         QStringLiteral("Pixels per dot of the print head in the PNG pages: 1 (the default) is "
                        "the printer's own dots and built-in font, the same file on every "
                        "machine; 2 to 4 draw the paper as the window does, in the machine's "
                        "fonts, for people to read."),
         QStringLiteral("N")},
        {QStringLiteral("text"),
         QStringLiteral("Write the paper as text to FILE on save and at exit: one line per "
                        "printed line, {B0} for a user-defined character, {W} {E} for print "
                        "modes, [imagem ...] for a bit image, [gaveta aberta] for events."),
         file},
        {QStringLiteral("events"),
         QStringLiteral("Write every command and event to FILE as JSON Lines."), file},
        {QStringLiteral("link"),
         QStringLiteral("Make PATH a symbolic link to the terminal while running."),
         QStringLiteral("PATH")},
        {QStringLiteral("control"),
         QStringLiteral("Take panel commands on the Unix socket SOCKET, one per line: paper "
                        "out|in, offline on|off, reset, model dual|compatible, speed N, tear, "
                        "save, state."),
         QStringLiteral("SOCKET")},
        {QStringLiteral("compatible"),
         QStringLiteral("Emulate the 40/48-column compatible model (Korvex BM  40/48).")},
        {QStringLiteral("speed"),
         QStringLiteral("Print speed in lines per second, 0.1 to 1000, or 0 to print as fast "
                        "as the bytes arrive (default 8)."),
         QStringLiteral("LINES")},
        {QStringLiteral("window"), QStringLiteral("Show the printer's window.")},
    });
}

// Where clients reach it besides the terminal.
void describePorts(QCommandLineParser& parser) {
    parser.addOptions({
        {QStringLiteral("listen"),
         QStringLiteral("Take the printer's bytes on a raw TCP port, as a network receipt "
                        "printer does (9100 by convention); the loopback address unless HOST "
                        "is given (0.0.0.0 for every interface); port 0 picks a free one."),
         QStringLiteral("[HOST:]PORT")},
        {QStringLiteral("rfc2217"),
         QStringLiteral("Serve the printer as a serial device server does, with RFC 2217: the "
                        "client sets up the line and sees CTS, DSR and CD."),
         QStringLiteral("[HOST:]PORT")},
        {QStringLiteral("idle-timeout"),
         QStringLiteral("Close a network client that has sent and been sent nothing for "
                        "SECONDS (1 to 86400), as network printers do, and serve the next; "
                        "never unless given."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("line"),
         QStringLiteral("The printer's own serial line (default 9600,8N1): bytes sent on the "
                        "RFC 2217 port with other settings are line noise."),
         QStringLiteral("RATE,DPS")},
        {QStringLiteral("http"),
         QStringLiteral("Serve a web page with the paper, live, the panel and the receipts torn "
                        "off, and /state, /events and the paper for scripts; the loopback "
                        "address unless HOST is given; port 0 picks a free one."),
         QStringLiteral("[HOST:]PORT")},
    });
}

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Serves the Korvexa Dual emulation on a pseudo-terminal."));
    describeOutputs(parser);
    describePorts(parser);
}

// A file written later is checked at start, so a wrong path costs nothing printed.
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

// A link is only ever put where nothing is, or over the link a printer that
// has ended left behind: one to a terminal that no longer exists. A user's
// own link is never replaced, nor the link of a printer still running.
void checkLink(const QString& path) {
    const QFileInfo info(path);
    if (info.exists() && !info.isSymLink())
        refuse(QStringLiteral("--link %1: exists and is not a symbolic link").arg(path));
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (!target.startsWith(QLatin1String("/dev/pts/")))
            refuse(QStringLiteral("--link %1: leads to %2, not a link to a terminal left by "
                                  "a printer")
                       .arg(path, target));
        if (QFileInfo::exists(target))
            refuse(QStringLiteral("--link %1: the terminal %2 it leads to is in use, perhaps "
                                  "by another printer")
                       .arg(path, target));
    }
    checkWritable(QStringLiteral("link"), path);
}

// --idle-timeout: whole seconds, up to a day.
int idleTimeout(const QString& text) {
    bool ok = false;
    const int seconds = text.toInt(&ok);
    if (!ok || seconds < 1 || seconds > 24 * 3600)
        refuse(QStringLiteral("--idle-timeout %1: give the seconds, 1 to 86400").arg(text));
    return seconds;
}

// The options with a number or a line's settings in them.
void readNumbers(const QCommandLineParser& parser, PrinterOptions& options) {
    const auto value = [&parser](const char* name) { return parser.value(QLatin1String(name)); };
    if (parser.isSet(QStringLiteral("png-scale"))) {
        bool ok = false;
        options.pngScale = value("png-scale").toInt(&ok);
        if (!ok || options.pngScale < 1 || options.pngScale > PaperPages::LargestScale)
            refuse(QStringLiteral("--png-scale %1: the pixels per dot are 1 to %2")
                       .arg(value("png-scale"))
                       .arg(PaperPages::LargestScale));
    }
    if (parser.isSet(QStringLiteral("speed"))) {
        const auto speed = printSpeed(value("speed"));
        if (!speed)
            refuse(QStringLiteral("--speed %1: the print speed is 0 (as fast as the bytes "
                                  "arrive) or from 0.1 to 1000 lines per second")
                       .arg(value("speed")));
        options.linesPerSecond = *speed;
    }
    if (parser.isSet(QStringLiteral("idle-timeout")))
        options.idleTimeout = idleTimeout(value("idle-timeout"));
    if (parser.isSet(QStringLiteral("line"))) {
        const auto line = LineSettings::parse(value("line"));
        if (!line)
            refuse(QStringLiteral("--line %1: give RATE,DPS such as 9600,8N1 (data bits 5 to 8, "
                                  "parity N, E, O, M or S, stop bits 1, 1.5 or 2)")
                       .arg(value("line")));
        options.line = *line;
    }
}

} // namespace

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
    const auto value = [&parser](const char* name) { return parser.value(QLatin1String(name)); };
    options.png = value("png");
    options.text = value("text");
    options.events = value("events");
    options.link = value("link");
    options.control =
        value("control").isEmpty() ? QString() : QFileInfo(value("control")).absoluteFilePath();
    options.listen = value("listen");
    options.rfc2217 = value("rfc2217");
    options.http = value("http");
    QString error;
    if ((!options.listen.isEmpty() &&
         !NetworkPort::canListen(NetworkPort::Kind::Raw, options.listen, &error)) ||
        (!options.rfc2217.isEmpty() &&
         !NetworkPort::canListen(NetworkPort::Kind::Rfc2217, options.rfc2217, &error)) ||
        (!options.http.isEmpty() && !HttpPanel::canListen(options.http, &error)))
        refuse(error);
    options.compatible = parser.isSet(QStringLiteral("compatible"));
    options.window = parser.isSet(QStringLiteral("window"));
    for (const char* option : {"png", "text", "events", "control"})
        if (parser.isSet(QLatin1String(option)))
            checkWritable(QLatin1String(option), value(option));
    if (parser.isSet(QStringLiteral("link")))
        checkLink(options.link);
    readNumbers(parser, options);
    return options;
}
