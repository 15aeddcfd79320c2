// tellumo-printer on the network: 1 MB of receipts over its raw TCP port at
// --speed 0 (throughput), how soon an RFC 2217 client hears CTS drop after
// "offline on" on the control socket (the median of 20 changes), and what
// 30 s of status requests from a client that sent FLOWCONTROL-SUSPEND and
// never RESUME cost in memory.
#include "PrinterProcess.h"
#include "protocol/Rfc2217Codec.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
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

// Sent whole, the connection closed, and everything taken and printed.
double tcpThroughputKbps(const PrinterProcess& printer) {
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

double ctsNotifyMs(const PrinterProcess& printer) {
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
double suspendRssMb(const PrinterProcess& printer) {
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
    PrinterProcess printer(folder.path(), {"--listen", "0", "--rfc2217", "0", "--text",
                                           folder.path() + "/receipt.txt"});
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
