// tellumo-printer: the virtual printer on a pseudo-terminal, for any serial
// program and for the test suites of programs that print receipts, and on
// the network as a raw TCP port and as an RFC 2217 serial device server.
// Prints the terminal's path (and links it where --link says) and the
// network addresses, logs what it receives and replies, takes panel
// commands on --control, optionally shows the printer's window and a web
// page with the paper and the panel (--http), and writes
// the paper as text, as PNG pages and the log as JSON Lines on "save" and
// when it ends (Ctrl+C, SIGTERM, SIGHUP, or the window closed).
#include "sim/paper/PaperPages.h"
#include "sim/printer/HexDump.h"
#include "sim/printer/LineSettings.h"
#include "sim/printer/PrinterClock.h"
#include "sim/printer/VirtualPrinter.h"
#include "sim/serve/HttpPanel.h"
#include "sim/serve/LogOutput.h"
#include "sim/serve/NetworkPort.h"
#include "sim/serve/PaperSaver.h"
#include "sim/serve/PaperSpool.h"
#include "sim/serve/PrinterControl.h"
#include "sim/serve/PrinterEvents.h"
#include "sim/serve/PrinterOptions.h"
#include "sim/serve/PtyServer.h"
#include "sim/window/VirtualPrinterWindow.h"
#include "sim/window/WindowPlacement.h"

#include <QApplication>
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

// The event loop ends on SIGINT, SIGTERM, or SIGHUP (a closed terminal or a
// session's end), by way of a pipe: a signal handler may only write.
std::unique_ptr<QSocketNotifier> quitOnSignals(QApplication& app) {
    if (::pipe2(stopPipe, O_CLOEXEC) != 0)
        refuse(QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    auto stop = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(stop.get(), &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, requestStop);
    return stop;
}

// What was written to the printer before it stopped still goes on the
// paper; then the ports close, so that no client waits on a printer that is
// only writing its files. The exit status: 1 when a file was not written.
int finish(VirtualPrinter& printer, Ports& ports, Outputs& outputs, LogOutput& log,
           const QString& link) {
    ports.pty.takeWaitingBytes();
    printer.advance(24 * 3600 * 1000);
    removeLink(link, ports.pty.path());
    ports.close();
    const QString failed = outputs.saveNow();
    if (!failed.isEmpty())
        std::fprintf(stderr, "tellumo-printer: %s\n", failed.toLocal8Bit().constData());
    log.finish();
    return failed.isEmpty() ? 0 : 1;
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

    const auto stop = quitOnSignals(app);

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

    return finish(printer, ports, outputs, log, options.link);
}
