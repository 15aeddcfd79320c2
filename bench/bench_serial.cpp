// Serial port figures: the cost of an idle open port (CPU, and how often its
// event thread wakes), and the file-send
// pattern (40-byte blocks, each after the previous transmitter-empty event)
// through the virtual line at 9600 bit/s. The same two for a network line
// over loopback TCP: idle, and sending to a reader that takes 9600 bit/s.
#include "comport/EventThreadWakeups.h"
#include "comport/LoopbackListener.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/comport/lines/virtual/VirtualLine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct IdleFigures {
    double cpu = -1;
    double wakeups = -1;
};

// Per second of wall time, the CPU time and the event thread's wake-ups of an
// open port on a pseudo-terminal that nothing happens on.
IdleFigures idle() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return {};
    PortMap::map(QStringLiteral("COM5"), QString::fromLocal8Bit(ptsname(master)));
    TComPort port;
    port.SetPort(QStringLiteral("COM5"));
    port.Open();
    QEventLoop settle;
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();
    const double cpu0 = cpuSeconds();
    const qint64 wakeups0 = eventThreadWakeups();
    QElapsedTimer wall;
    wall.start();
    QEventLoop idle;
    QTimer::singleShot(3000, &idle, &QEventLoop::quit);
    idle.exec();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const IdleFigures figures{(cpuSeconds() - cpu0) / seconds,
                              double(eventThreadWakeups() - wakeups0) / seconds};
    port.Close();
    ::close(master);
    return figures;
}

struct SendFigures {
    double lineRatio = -1;
    double cpu = -1;
};

// The file-send pattern: blocks of 40 bytes, each written once the
// transmitter has emptied of the one before. Made before the port opens.
class BlockSender {
public:
    static constexpr int Blocks = 100;
    static constexpr int BlockSize = 40;
    explicit BlockSender(TComPort& port) : port_(port) {
        port.OnTxEmpty = [this](TCustomComPort*) {
            empty_ = true;
            waitEmpty_.quit();
        };
    }
    void run() {
        const QByteArray block(BlockSize, 'x');
        for (int i = 0; i < Blocks; ++i) {
            empty_ = false;
            port_.Write(block.constData(), BlockSize);
            if (!empty_)
                waitEmpty_.exec();
        }
    }

private:
    TComPort& port_;
    QEventLoop waitEmpty_;
    bool empty_ = false;
};

SendFigures send() {
    constexpr int bytes = BlockSender::Blocks * BlockSender::BlockSize;
    const auto line = VirtualLine::create();
    PortMap::map(QStringLiteral("COM6"), QString::fromLatin1(PortMap::VirtualDevice));
    PortMap::setVirtualLineProvider([line](const QString&) { return line; });
    // A far end on the GUI thread, as the virtual printer is.
    QObject printer;
    qint64 received = 0;
    line->setReceiver(&printer, [&](const QByteArray& got) { received += got.size(); });

    TComPort port;
    port.SetPort(QStringLiteral("COM6"));
    TComEvents events = TComEvents::All();
    port.SetEvents(events.Exclude(evRing));
    BlockSender sender(port);
    port.Open();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    sender.run();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    port.Close();
    PortMap::setVirtualLineProvider({});
    if (received != bytes)
        std::fprintf(stderr, "bench_serial: the far end got %lld bytes\n",
                     static_cast<long long>(received));
    const double lineSeconds = bytes * 10.0 / 9600.0;
    return {seconds / lineSeconds, cpu / seconds};
}
// The event thread's wake-ups per second of an open, idle tcp:// port.
double networkIdle() {
    quint16 tcpPort = 0;
    const int listener = loopbackListener(tcpPort, 2048);
    PortMap::map(QStringLiteral("COM7"), QStringLiteral("tcp://127.0.0.1:%1").arg(tcpPort));
    TComPort port;
    port.SetPort(QStringLiteral("COM7"));
    port.Open();
    const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    QEventLoop settle;
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();
    const qint64 wakeups0 = eventThreadWakeups();
    QElapsedTimer wall;
    wall.start();
    QEventLoop idle;
    QTimer::singleShot(3000, &idle, &QEventLoop::quit);
    idle.exec();
    const double wakeups = double(eventThreadWakeups() - wakeups0) / (wall.nsecsElapsed() / 1e9);
    port.Close();
    ::close(peer);
    ::close(listener);
    return wakeups;
}

// CPU time / wall time of the file-send pattern over tcp:// to a reader that
// takes 960 bytes a second, until it has them all.
double networkSend() {
    constexpr int bytes = BlockSender::Blocks * BlockSender::BlockSize;
    quint16 tcpPort = 0;
    const int listener = loopbackListener(tcpPort, 2048);
    PortMap::map(QStringLiteral("COM8"), QStringLiteral("tcp://127.0.0.1:%1").arg(tcpPort));
    TComPort port;
    port.SetPort(QStringLiteral("COM8"));
    BlockSender sender(port);
    port.Open();
    const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    std::atomic<int> received{0};
    std::thread reader([&] {
        char buffer[96];
        while (received < bytes) {
            const ssize_t n = recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            received += int(n);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    sender.run();
    reader.join();
    const double figure = (cpuSeconds() - cpu0) / (wall.nsecsElapsed() / 1e9);
    port.Close();
    ::close(peer);
    ::close(listener);
    return figure;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const IdleFigures quiet = idle();
    std::printf("serial-idle-cpu: %.5f\n", quiet.cpu);
    std::printf("serial-idle-wakeups: %.2f\n", quiet.wakeups);
    const SendFigures figures = send();
    std::printf("serial-send-line-ratio: %.4f\n", figures.lineRatio);
    std::printf("serial-send-cpu: %.5f\n", figures.cpu);
    std::printf("network-idle-wakeups: %.2f\n", networkIdle());
    std::printf("network-send-cpu: %.5f\n", networkSend());
    return 0;
}
