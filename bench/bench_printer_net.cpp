// tellumo-printer on the network: 1 MB of receipts over its raw TCP port at
// --speed 0 (throughput), how soon an RFC 2217 client hears CTS drop after
// "offline on" on the control socket (the median of 20 changes), and what
// 30 s of status requests from a client that sent FLOWCONTROL-SUSPEND and
// never RESUME cost in memory.
#include "protocol/Rfc2217Codec.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray receipts(qsizetype size) {
    QByteArray out;
    for (int item = 1; out.size() < size; ++item)
        out += QStringLiteral("%1 Produto de teste   1 x R$ %2,90")
                   .arg(item % 10000, 4, 10, QLatin1Char('0'))
                   .arg(item % 50)
                   .toLatin1()
                   .leftJustified(47, ' ') +
               '\n';
    out.truncate(size - 1);
    return out + '\n';
}

int connectTo(int family, const void* address, socklen_t size) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, static_cast<const sockaddr*>(address), size) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

int connectTcp(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connectTo(AF_INET, &address, sizeof address);
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

// The printer with its control socket, and the ports it listens on.
class Printer {
public:
    explicit Printer(const QString& folder) : control_(folder + "/control") {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral(TELLUMO_PRINTER),
                      {"--speed", "0", "--listen", "0", "--rfc2217", "0", "--control", control_,
                       "--text", folder + "/receipt.txt"});
        for (int i = 0; i < 2000 && !QFileInfo::exists(control_); ++i)
            QThread::msleep(10);
    }
    ~Printer() {
        process.terminate();
        process.waitForFinished(60000);
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
    quint16 port(const char* kind) const {
        const QString address = state()[QLatin1String(kind)][QLatin1String("address")].toString();
        return quint16(address.section(QLatin1Char(':'), -1).toUInt());
    }

    QProcess process;

private:
    QString control_;
};

// Sent whole, the connection closed, and everything taken and printed.
double tcpThroughputKbps(const Printer& printer) {
    const QByteArray bytes = receipts(1 << 20);
    QElapsedTimer clock;
    clock.start();
    const int fd = connectTcp(printer.port("listen"));
    if (fd < 0 || !writeAll(fd, bytes))
        return -1;
    ::close(fd);
    for (int waited = 0; waited < 60000; ++waited) {
        const QJsonObject state = printer.state();
        if (state[QLatin1String("listen")][QLatin1String("client")].isNull() &&
            state[QLatin1String("buffer")][QLatin1String("fill")].toInt() == 0)
            return 1024.0 / (clock.nsecsElapsed() / 1e9);
        QThread::msleep(1);
    }
    return -1;
}

// An RFC 2217 client that only listens for the modem state.
class ModemWatch : public Rfc2217::Sink {
public:
    explicit ModemWatch(quint16 port) : fd_(connectTcp(port)) {
        if (fd_ >= 0)
            writeAll(fd_, Rfc2217::negotiation(Rfc2217::Will, Rfc2217::ComPortOption));
    }
    ~ModemWatch() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    // Waits for a notification with CTS as asked; false after 5 s.
    bool waitForCts(bool on) {
        QElapsedTimer clock;
        clock.start();
        while (fd_ >= 0 && (lines_ < 0 || bool(lines_ & Rfc2217::Modem::Cts) != on)) {
            pollfd p{fd_, POLLIN, 0};
            char buffer[4096];
            const qint64 left = 5000 - clock.elapsed();
            if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
                return false;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            decoder_.take(buffer, int(n));
        }
        return fd_ >= 0;
    }

private:
    void data(const char*, int) override {}
    void negotiation(Rfc2217::Command, uint8_t) override {}
    void comPort(uint8_t code, const QByteArray& value) override {
        if (code == Rfc2217::NotifyModemState + Rfc2217::ServerOffset)
            lines_ = uint8_t(value[0]);
    }

    int fd_;
    int lines_ = -1;
    Rfc2217::Decoder decoder_{*this};
};

double ctsNotifyMs(const Printer& printer) {
    ModemWatch watch(printer.port("rfc2217"));
    if (!watch.waitForCts(true))
        return -1;
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (printer.ask("offline on") != "ok" || !watch.waitForCts(false))
            return -1;
        ms.push_back(clock.nsecsElapsed() / 1e6);
        if (printer.ask("offline off") != "ok" || !watch.waitForCts(true))
            return -1;
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

qint64 residentKb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("VmRSS:");
    return at < 0 ? -1 : text.mid(at + 6, 20).trimmed().split(' ').value(0).toLongLong();
}

// Status requests as fast as the printer takes them, their replies held by
// SUSPEND: the resident memory's growth in MB.
double suspendRssMb(const Printer& printer) {
    const int fd = connectTcp(printer.port("rfc2217"));
    if (fd < 0)
        return -1;
    writeAll(fd, Rfc2217::negotiation(Rfc2217::Will, Rfc2217::ComPortOption) +
                     Rfc2217::comPort(Rfc2217::FlowControlSuspend, QByteArray()));
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    const qint64 start = residentKb(printer.process.processId());
    const QByteArray requests = QByteArray("v").repeated(2048);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 100) == 1) [[maybe_unused]]
            const auto n = ::write(fd, requests.constData(), size_t(requests.size()));
    }
    const qint64 end = residentKb(printer.process.processId());
    ::close(fd);
    return start < 0 || end < 0 ? -1 : (end - start) / 1024.0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    Printer printer(folder.path());
    const double kbps = tcpThroughputKbps(printer);
    const double notifyMs = ctsNotifyMs(printer);
    const double suspendMb = suspendRssMb(printer);
    if (kbps < 0 || notifyMs < 0 || suspendMb < 0) {
        std::fprintf(stderr, "bench_printer_net: the printer did not answer on the network\n");
        return 1;
    }
    std::printf("printer-tcp-throughput-kbps: %.0f\n", kbps);
    std::printf("printer-cts-notify-ms: %.1f\n", notifyMs);
    std::printf("printer-suspend-rss-mb: %.1f\n", suspendMb);
    return 0;
}
