// Network lines against peers that misbehave: the longest stand-still of the
// GUI thread's event loop while a loopback peer floods a tcp:// port with
// 100 MB, and the memory an rfc2217:// port grows by over 30 s of a server
// repeating "IAC DO 99" without ever reading.
#include "comport/LoopbackListener.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr qint64 FloodBytes = 100LL << 20;
constexpr int StormMs = 30000;
// A storm that has cost this much already has missed its target many times
// over; it is stopped there rather than let eat the machine.
constexpr double StormGiveUpMb = 300;

double rssMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return -1;
}

// The longest time between two turns of the GUI thread's event loop, seen
// by a timer that asks for one every 2 ms.
class Heartbeat {
public:
    Heartbeat() {
        beat_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&beat_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, since_.restart()); });
        since_.start();
        beat_.start(2);
    }
    qint64 longestMs() const { return longest_; }

private:
    QTimer beat_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
};

double floodGap() {
    quint16 tcpPort = 0;
    const int server = loopbackListener(tcpPort);
    PortMap::map(QStringLiteral("COM5"), QStringLiteral("tcp://127.0.0.1:%1").arg(tcpPort));
    TComPort port;
    port.SetPort(QStringLiteral("COM5"));
    // As in the program while nothing asks the printer: what arrives stays
    // queued for the next Read, and what the line has no room for is its
    // overrun, as on a serial port.
    port.Open();
    const int peer = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    QEventLoop done;
    std::thread flood([peer, &done] {
        const QByteArray chunk(1 << 20, 'x');
        for (qint64 sent = 0; sent < FloodBytes;) {
            const ssize_t n = send(peer, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        QMetaObject::invokeMethod(
            &done, [&done] { done.quit(); }, Qt::QueuedConnection);
    });
    const Heartbeat heartbeat;
    done.exec();
    const qint64 gap = heartbeat.longestMs();
    flood.join();
    port.Close();
    ::close(peer);
    ::close(server);
    return double(gap);
}

// Answers each COM-PORT request as a device server does (the code plus 100,
// the value as asked), with CTS and DSR on, until told to stop.
void agree(int peer, const std::atomic<bool>& opened) {
    const char offer[] = "\xff\xfd\x2c\xff\xfb\x00\xff\xfb\x03\xff\xfa\x2c\x6b\x30\xff\xf0";
    send(peer, offer, sizeof offer - 1, MSG_NOSIGNAL);
    QByteArray pending;
    while (!opened) {
        pollfd p{peer, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        char got[4096];
        const ssize_t n = recv(peer, got, sizeof got, 0);
        if (n <= 0)
            return;
        pending.append(got, int(n));
        qsizetype start = 0;
        while ((start = pending.indexOf("\xff\xfa\x2c")) >= 0) {
            const qsizetype stop = pending.indexOf("\xff\xf0", start);
            if (stop < 0)
                break;
            QByteArray answer = pending.mid(start, stop + 2 - start);
            answer[3] = char(answer[3] + 100);
            send(peer, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
            pending.remove(0, stop + 2);
        }
    }
}

double stormGrowth() {
    quint16 tcpPort = 0;
    const int server = loopbackListener(tcpPort);
    PortMap::map(QStringLiteral("COM6"), QStringLiteral("rfc2217://127.0.0.1:%1").arg(tcpPort));
    std::atomic<bool> opened{false};
    std::atomic<bool> stop{false};
    std::thread storm([&] {
        const int peer = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        agree(peer, opened);
        QByteArray doNinetyNine;
        for (int i = 0; i < 20000; ++i)
            doNinetyNine += "\xff\xfd\x63";
        pollfd p{peer, POLLOUT, 0};
        while (!stop)
            if (poll(&p, 1, 50) > 0 &&
                send(peer, doNinetyNine.constData(), size_t(doNinetyNine.size()),
                     MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                errno != EAGAIN)
                break;
        ::close(peer);
    });
    TComPort port;
    port.SetPort(QStringLiteral("COM6"));
    port.Open();
    opened = true;
    const double before = rssMb();
    double growth = 0;
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < StormMs && growth < StormGiveUpMb) {
        QEventLoop tick;
        QTimer::singleShot(250, &tick, &QEventLoop::quit);
        tick.exec();
        growth = std::max(growth, rssMb() - before);
    }
    stop = true;
    storm.join();
    port.Close();
    ::close(server);
    return growth;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::printf("network-flood-gui-gap-ms: %.0f\n", floodGap());
    std::fflush(stdout);
    std::printf("network-storm-rss-mb: %.1f\n", stormGrowth());
    return 0;
}
