// tellumo-printer answering on the network while it writes its files: a
// 200 kB roll (5000 lines of 40 characters) drawn four pixels a dot, and a
// client on --listen asking for the status every 50 ms meanwhile. The figure
// is the longest answer, in ms.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

int connectTo(int family, const void* address, socklen_t size) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, static_cast<const sockaddr*>(address), size) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray readExactly(int fd, qsizetype size) {
    QByteArray got;
    char buffer[64];
    while (got.size() < size) {
        const ssize_t n = ::read(fd, buffer, size_t(std::min<qsizetype>(64, size - got.size())));
        if (n <= 0)
            return {};
        got.append(buffer, n);
    }
    return got;
}

class Printer {
public:
    explicit Printer(const QString& folder) : control_(folder + "/control") {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral(TELLUMO_PRINTER),
                      {"--speed", "0", "--listen", "0", "--control", control_, "--png",
                       folder + "/roll.png", "--png-scale", "4"});
        for (int i = 0; i < 2000 && !QFileInfo::exists(control_); ++i)
            QThread::msleep(10);
    }
    ~Printer() {
        process.terminate();
        process.waitForFinished(300000);
    }
    QByteArray ask(const QByteArray& command) const {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(control_));
        const int fd = connectTo(AF_UNIX, &address, sizeof address);
        QByteArray answer;
        char c = 0;
        if (fd >= 0 && writeAll(fd, command + '\n'))
            while (::read(fd, &c, 1) == 1 && c != '\n')
                answer += c;
        if (fd >= 0)
            ::close(fd);
        return answer;
    }
    QJsonObject state() const { return QJsonDocument::fromJson(ask("state")).object(); }

    QProcess process;

private:
    QString control_;
};

// The roll printed, then the longest status answer while "save" writes it.
double saveGapMs(const Printer& printer) {
    const QString address =
        printer.state()[QLatin1String("listen")].toObject()[QLatin1String("address")].toString();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(address.section(QLatin1Char(':'), -1).toUInt()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = connectTo(AF_INET, &to, sizeof to);
    QByteArray roll;
    for (int i = 0; i < 5000; ++i)
        roll += QByteArray::number(i).rightJustified(5, '0') + ' ' + QByteArray(33, 'x') + '\n';
    if (fd < 0 || !writeAll(fd, roll + "\x1bv") || readExactly(fd, 9).isEmpty())
        return -1;
    std::atomic<bool> saved = false;
    QByteArray answer;
    std::thread save([&] {
        answer = printer.ask("save");
        saved = true;
    });
    double longest = 0;
    while (!saved) {
        QElapsedTimer clock;
        clock.start();
        if (!writeAll(fd, "\x1bv") || readExactly(fd, 9).isEmpty())
            break;
        longest = std::max(longest, clock.nsecsElapsed() / 1e6);
        QThread::msleep(50);
    }
    save.join();
    ::close(fd);
    return answer == "ok" ? longest : -1;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    Printer printer(folder.path());
    const double gap = saveGapMs(printer);
    if (gap < 0) {
        std::fprintf(stderr, "bench_printer_save: the printer did not save or answer\n");
        return 1;
    }
    std::printf("printer-save-gap-ms: %.1f\n", gap);
    return 0;
}
