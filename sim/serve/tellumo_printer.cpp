// tellumo-printer: the virtual printer on a pseudo-terminal, for any serial
// program and for the test suites of programs that print receipts, and on
// the network as a raw TCP port and as an RFC 2217 serial device server.
// Prints the terminal's path (and links it where --link says) and the
// network addresses, logs what it receives and replies, takes panel
// commands on --control, optionally shows the printer's window and a web
// page with the paper and the panel (--http), and writes
// the paper as text, as PNG pages and the log as JSON Lines on "save" and
// when it ends (Ctrl+C, SIGTERM, SIGHUP, or the window closed).
#include "sim/printer/HexDump.h"
#include "sim/serve/HttpPanel.h"
#include "sim/serve/LogOutput.h"
#include "sim/serve/NetworkPort.h"
#include "sim/paper/PaperPages.h"
#include "sim/serve/PaperSaver.h"
#include "sim/serve/PaperSpool.h"
#include "sim/printer/PrinterClock.h"
#include "sim/serve/PrinterControl.h"
#include "sim/serve/PrinterEvents.h"
#include "sim/printer/LineSettings.h"
#include "sim/serve/PtyServer.h"
#include "sim/printer/VirtualPrinter.h"
#include "sim/window/WindowPlacement.h"
#include "sim/window/VirtualPrinterWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
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

[[noreturn]] void refuse(const QString& why) {
    std::fprintf(stderr, "tellumo-printer: %s\n", why.toLocal8Bit().constData());
    std::exit(2);
}

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Serves the Korvexa Dual emulation on a pseudo-terminal."));
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
        {QStringLiteral("window"), QStringLiteral("Show the printer's window.")},
    });
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

QString logLine(const PrinterLogEntry& entry) {
    // The wall clock, as the window's log shows it.
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    switch (entry.kind) {
    case PrinterLogEntry::Kind::Received:
        break;
    case PrinterLogEntry::Kind::Sent:
        return QStringLiteral("%1 -> %2").arg(time, hexDumpLine(entry.bytes, 0));
    case PrinterLogEntry::Kind::Command:
    case PrinterLogEntry::Kind::Event:
        return QStringLiteral("%1    %2").arg(time, entry.text);
    case PrinterLogEntry::Kind::Warning:
        return QStringLiteral("%1  ! %2").arg(time, entry.text);
    }
    QStringList lines;
    for (qsizetype i = 0; i < entry.bytes.size(); i += 16)
        lines << QStringLiteral("%1 <- %2").arg(time, hexDumpLine(entry.bytes.mid(i, 16), 0));
    return lines.join(QLatin1Char('\n'));
}

struct PrinterOptions {
    QString png;
    int pngScale = 1;
    QString text;
    QString events;
    QString link;
    QString control;
    QString listen;
    QString rfc2217;
    QString http;
    LineSettings line;
    int idleTimeout = 0;
    bool compatible = false;
    bool window = false;
    double linesPerSecond = VirtualPrinter::DefaultLinesPerSecond;
};

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
    return options;
}

// Everything tellumo-printer writes besides its log. The paper is spooled
// only when a file of it is asked for.
class Outputs {
public:
    Outputs(VirtualPrinter& printer, const PrinterOptions& options, LogOutput& log)
        : options_(options), log_(log) {
        if (!options.text.isEmpty() || !options.png.isEmpty()) {
            spool_ = std::make_unique<PaperSpool>(&printer);
            saver_ = std::make_unique<PaperSaver>(
                spool_.get(), PaperSaver::Files{options.text, options.png, options.pngScale});
        }
        if (!options.events.isEmpty())
            events_ = std::make_unique<PrinterEvents>(&printer, options.events);
    }
    bool open(QString* error) {
        return (!spool_ || spool_->open(error)) && (!events_ || events_->open(error));
    }
    // The files, written off this thread; saved is told once they are.
    void save(const PrinterControl::Saved& saved) {
        if (!saver_)
            return saved(finish({}));
        saver_->save([this, saved](const QString& error) { saved(finish(error)); });
    }
    // The files, now, at the end.
    QString saveNow() { return finish(saver_ ? saver_->saveNow() : QString()); }

private:
    // The events are flushed once the paper is written, so that they hold
    // at least what the paper shows.
    QString finish(const QString& error) {
        if (!error.isEmpty())
            return error;
        if (events_ && !events_->flush())
            return QStringLiteral("--events %1: cannot write").arg(options_.events);
        for (const QString& file : {options_.text, options_.png, options_.events})
            if (!file.isEmpty())
                log_.write(QStringLiteral("Salvo em %1").arg(file));
        return {};
    }

    const PrinterOptions& options_;
    LogOutput& log_;
    std::unique_ptr<PaperSpool> spool_;
    std::unique_ptr<PaperSaver> saver_;
    std::unique_ptr<PrinterEvents> events_;
};

// The terminal's path where scripts find it, also after a printer was killed
// (checkLink has made sure an old link there is such a printer's). A printer
// started at the same moment with the same link makes symlink() fail.
bool makeLink(const QString& link, const QString& target) {
    if (QFileInfo(link).isSymLink())
        QFile::remove(link);
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) ==
           0;
}

// Where the printer is reached: its terminal always, the network ports asked for.
class Ports {
public:
    Ports(VirtualPrinter& printer, const PrinterOptions& options)
        : pty(&printer, options.line), options_(options) {
        if (!options.listen.isEmpty())
            tcp = std::make_unique<NetworkPort>(&printer, NetworkPort::Kind::Raw, options.line);
        if (!options.rfc2217.isEmpty())
            rfc2217 =
                std::make_unique<NetworkPort>(&printer, NetworkPort::Kind::Rfc2217, options.line);
        for (NetworkPort* port : {tcp.get(), rfc2217.get()})
            if (port)
                port->setIdleTimeout(options.idleTimeout);
    }
    bool open(QString* error) {
        return pty.open(error) && (!tcp || tcp->listen(options_.listen, error)) &&
               (!rfc2217 || rfc2217->listen(options_.rfc2217, error));
    }
    // What "state" says of them.
    void describe(PrinterControl& control) const {
        control.addState(QStringLiteral("line"), [this] { return options_.line.text(); });
        control.addState(QStringLiteral("terminal"), [this] {
            return QJsonObject{{QStringLiteral("path"), pty.path()},
                               {QStringLiteral("open"), pty.inUse()},
                               {QStringLiteral("settings"), pty.clientLine().text()},
                               {QStringLiteral("noise"), pty.noise()}};
        });
        if (tcp)
            control.addState(QStringLiteral("listen"), [this] { return tcp->state(); });
        if (rfc2217)
            control.addState(QStringLiteral("rfc2217"), [this] { return rfc2217->state(); });
    }
    void announce(LogOutput& log, const VirtualPrinter& printer) const {
        log.write(QStringLiteral("Impressora virtual (%1) em %2")
                      .arg(VirtualPrinter::modelText(printer.model()).simplified(), pty.path()));
        if (tcp)
            log.write(QStringLiteral("Porta TCP em %1").arg(tcp->address()));
        if (rfc2217)
            log.write(QStringLiteral("Porta RFC 2217 em %1, linha da impressora %2")
                          .arg(rfc2217->address(), options_.line.text()));
    }

    void close() {
        tcp.reset();
        rfc2217.reset();
        pty.close();
    }

    PtyServer pty;
    std::unique_ptr<NetworkPort> tcp;
    std::unique_ptr<NetworkPort> rfc2217;

private:
    const PrinterOptions& options_;
};

void removeLink(const QString& link, const QString& target) {
    if (!link.isEmpty() && QFileInfo(link).symLinkTarget() == QFileInfo(target).absoluteFilePath())
        QFile::remove(link);
}

} // namespace

int main(int argc, char* argv[]) {
    // A log reader that goes away must not end the printer.
    std::signal(SIGPIPE, SIG_IGN);
    const PrinterOptions options = parseArguments(argc, argv);
    // Without its window the printer needs fonts, not a display: it runs
    // anywhere, a bare terminal included.
    if (!options.window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    LogOutput log;

    VirtualPrinter printer(options.compatible ? PrinterModel::Compatible
                                              : PrinterModel::KorvexaDual);
    printer.setLinesPerSecond(options.linesPerSecond);
    QObject::connect(&printer, &VirtualPrinter::logged,
                     [&log](const PrinterLogEntry& entry) { log.write(logLine(entry)); });

    Ports ports(printer, options);
    Outputs outputs(printer, options, log);
    PrinterControl control(&printer,
                           [&outputs](const PrinterControl::Saved& saved) { outputs.save(saved); });
    ports.describe(control);
    const auto web =
        options.http.isEmpty() ? nullptr : std::make_unique<HttpPanel>(&printer, &control);
    QString error;
    if (!ports.open(&error) || !outputs.open(&error) ||
        (!options.control.isEmpty() && !control.listen(options.control, &error)) ||
        (web && !web->listen(options.http, &error)))
        refuse(error);
    if (!options.link.isEmpty() && !makeLink(options.link, ports.pty.path()))
        refuse(QStringLiteral("--link %1: %2")
                   .arg(options.link, QString::fromLocal8Bit(std::strerror(errno))));
    PrinterClock clock(&printer);
    clock.start();

    if (::pipe2(stopPipe, O_CLOEXEC) != 0)
        refuse(QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    // A closed terminal or a session's end (SIGHUP) ends it as SIGTERM does.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, requestStop);

    std::unique_ptr<VirtualPrinterWindow> printerWindow;
    if (options.window) {
        printerWindow = std::make_unique<VirtualPrinterWindow>(&printer);
        showOnScreen(printerWindow.get(), nullptr);
    }

    ports.announce(log, printer);
    if (web)
        log.write(QStringLiteral("Página web em http://%1/").arg(web->address()));
    app.exec();
    printerWindow.reset();

    // What was written to the printer before it stopped still goes on the
    // paper; then the ports close, so that no client waits on a printer that
    // is only writing its files.
    ports.pty.takeWaitingBytes();
    printer.advance(24 * 3600 * 1000);
    removeLink(options.link, ports.pty.path());
    ports.close();
    const QString failed = outputs.saveNow();
    if (!failed.isEmpty())
        std::fprintf(stderr, "tellumo-printer: %s\n", failed.toLocal8Bit().constData());
    log.finish();
    return failed.isEmpty() ? 0 : 1;
}
