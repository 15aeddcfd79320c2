// tellumo-printer as receipt software's tests drive it: on its
// pseudo-terminal at --speed 0, 1 MB of receipts with --text (throughput and
// peak memory), and the 20000-byte sample to PNG pages (peak memory, the
// time from the first byte written to "save" answered, and the pages' size).
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray receipts(qsizetype size) {
    QByteArray out;
    for (int item = 1; out.size() < size; ++item) {
        const QByteArray line = QStringLiteral("%1 Produto de teste   1 x R$ %2,90")
                                    .arg(item % 10000, 4, 10, QLatin1Char('0'))
                                    .arg(item % 50)
                                    .toLatin1();
        out += line.leftJustified(47, ' ') + '\n';
    }
    out.truncate(size - 1);
    return out + '\n';
}

double peakMb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    const auto m = QRegularExpression(QStringLiteral("VmHWM:\\s+(\\d+)"))
                       .match(QString::fromLatin1(status.readAll()));
    return m.captured(1).toDouble() / 1024;
}

// The printer with its terminal (raw, as a serial program opens it) and
// its control socket.
class Printer {
public:
    Printer(const QString& folder, QStringList arguments) {
        link_ = folder + "/printer";
        const QString control = folder + "/control";
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral(TELLUMO_PRINTER), arguments << "--speed"
                                                                 << "0"
                                                                 << "--link" << link_ << "--control"
                                                                 << control);
        for (int i = 0; i < 2000 && !QFileInfo(link_).isSymLink(); ++i)
            QThread::msleep(10);
        terminal = ::open(QFile::encodeName(link_).constData(), O_RDWR | O_NOCTTY);
        termios raw{};
        ::tcgetattr(terminal, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(terminal, TCSANOW, &raw);
        socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(control));
        ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~Printer() {
        ::close(terminal);
        ::close(socket_);
        process.terminate();
        process.waitForFinished(60000);
    }
    bool ok() const { return terminal >= 0 && socket_ >= 0; }
    QByteArray ask(const QByteArray& command) {
        const QByteArray line = command + '\n';
        if (::write(socket_, line.constData(), size_t(line.size())) != line.size())
            return {};
        QByteArray answer;
        char c = 0;
        while (::read(socket_, &c, 1) == 1 && c != '\n')
            answer += c;
        return answer;
    }
    // Written, taken from the terminal and printed.
    bool send(const QByteArray& bytes) {
        if (::write(terminal, bytes.constData(), size_t(bytes.size())) != bytes.size())
            return false;
        for (int waited = 0; waited < 60000; ++waited) {
            int queued = 0;
            ::ioctl(terminal, TIOCOUTQ, &queued);
            if (queued == 0 && ask("state").contains("\"fill\":0,"))
                return true;
            QThread::msleep(1);
        }
        return false;
    }

    QProcess process;
    int terminal = -1;

private:
    QString link_;
    int socket_ = -1;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    {
        Printer printer(folder.path(), {"--text", folder.filePath("receipt.txt")});
        const QByteArray bytes = receipts(1 << 20);
        QElapsedTimer clock;
        clock.start();
        if (!printer.ok() || !printer.send(bytes)) {
            std::fprintf(stderr, "bench_printer: the 1 MB receipt did not print\n");
            return 1;
        }
        std::printf("printer-throughput-kbps: %.0f\n", 1024.0 / (clock.nsecsElapsed() / 1e9));
        std::printf("printer-1mb-rss-mb: %.1f\n", peakMb(printer.process.processId()));
    }
    {
        Printer printer(folder.path(), {"--png", folder.filePath("fita.png")});
        QFile sample(QStringLiteral(TELLUMO_SOURCE "/docs/samples/fita-20000-bytes.txt"));
        sample.open(QIODevice::ReadOnly);
        QElapsedTimer clock;
        clock.start();
        if (!printer.ok() || !printer.send(sample.readAll()) || printer.ask("save") != "ok") {
            std::fprintf(stderr, "bench_printer: the sample did not save\n");
            return 1;
        }
        std::printf("printer-png-sample-ms: %lld\n", clock.elapsed());
        std::printf("printer-png-sample-rss-mb: %.1f\n", peakMb(printer.process.processId()));
        qint64 bytes = 0;
        for (const QFileInfo& page : QDir(folder.path()).entryInfoList({"fita*.png"}))
            bytes += page.size();
        std::printf("printer-png-sample-kb: %.0f\n", bytes / 1024.0);
    }
    return 0;
}
