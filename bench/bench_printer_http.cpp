// tellumo-printer's web page: how soon a printed line is in the data the
// page waits for (the median of 20 lines, written to the terminal at --speed
// 0 while the page's request waits), and how often the printer wakes with a
// page open and nothing printing.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// A request sent on a connection of its own; answer() reads the whole reply.
class Request {
public:
    Request(quint16 port, const QByteArray& path) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const QByteArray request =
            "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n";
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::write(fd_, request.constData(), size_t(request.size())) != request.size()) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Request() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    // The body as JSON, read up to its Content-Length (the server keeps
    // the connection); empty on a failure or after 30 s.
    QJsonObject answer() {
        static const QRegularExpression length(QStringLiteral("Content-Length: (\\d+)"),
                                               QRegularExpression::CaseInsensitiveOption);
        QByteArray reply;
        char buffer[65536];
        pollfd p{fd_, POLLIN, 0};
        while (fd_ >= 0 && ::poll(&p, 1, 30000) == 1) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            reply.append(buffer, n);
            const qsizetype end = reply.indexOf("\r\n\r\n");
            const auto m = length.match(QString::fromLatin1(reply.left(end)));
            if (end >= 0 && m.hasMatch() && reply.size() - end - 4 >= m.captured(1).toLongLong())
                return QJsonDocument::fromJson(reply.mid(end + 4)).object();
        }
        return {};
    }

private:
    int fd_ = -1;
};

qint64 wakeups(qint64 pid) {
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        status.open(QIODevice::ReadOnly);
        static const QRegularExpression switches(QStringLiteral("ctxt_switches:\\s+(\\d+)"));
        for (auto it = switches.globalMatch(QString::fromLatin1(status.readAll())); it.hasNext();)
            total += it.next().captured(1).toLongLong();
    }
    return total;
}

qint64 rollLines(const QJsonObject& update) {
    return update[QLatin1String("roll")][QLatin1String("lines")].toInteger(-1);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QProcess printer;
    printer.start(QStringLiteral(TELLUMO_PRINTER), {"--speed", "0", "--http", "0"});
    const QRegularExpression announced(
        QStringLiteral(" em (/dev/pts/\\d+)\\n(?:.*\\n)*.*Página web em http://[^:]+:(\\d+)/"));
    QString said;
    QRegularExpressionMatch found;
    while (!(found = announced.match(said)).hasMatch() && printer.waitForReadyRead(20000))
        said += QString::fromUtf8(printer.readAllStandardOutput());
    const int terminal =
        ::open(found.captured(1).toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (!found.hasMatch() || terminal < 0 || ::tcgetattr(terminal, &raw) != 0) {
        std::fprintf(stderr, "bench_printer_http: the printer did not start\n");
        return 1;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(terminal, TCSANOW, &raw);
    const quint16 port = quint16(found.captured(2).toUInt());

    QJsonObject update = Request(port, "/poll?since=0").answer();
    std::vector<double> ms;
    for (int line = 0; line < 20; ++line) {
        const qint64 before = rollLines(update);
        Request waiting(port, "/poll?since=" + QByteArray::number(update["version"].toInteger()));
        QThread::msleep(100); // the request is waiting
        QElapsedTimer clock;
        clock.start();
        const QByteArray text = "linha " + QByteArray::number(line) + '\n';
        [[maybe_unused]] const auto n = ::write(terminal, text.constData(), size_t(text.size()));
        update = waiting.answer();
        // An answer for the bytes alone, before the line printed: wait again.
        while (!update.isEmpty() && rollLines(update) <= before)
            update =
                Request(port, "/poll?since=" + QByteArray::number(update["version"].toInteger()))
                    .answer();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("printer-http-update-ms: %.1f\n", ms[ms.size() / 2]);

    Request open(port, "/poll?since=" + QByteArray::number(update["version"].toInteger()));
    QThread::msleep(500);
    const qint64 start = wakeups(printer.processId());
    QThread::sleep(3);
    std::printf("printer-http-idle-wakeups: %.2f\n",
                double(wakeups(printer.processId()) - start) / 3.0);

    ::close(terminal);
    printer.terminate();
    printer.waitForFinished(20000);
    return 0;
}
