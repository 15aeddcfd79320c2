// Serial port figures: the cost of an idle open port (CPU, and how often its
// event thread wakes), and the file-send
// pattern (40-byte blocks, each after the previous transmitter-empty event)
// through the virtual line at 9600 bit/s.
#include "comport/EventThreadWakeups.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/comport/VirtualLine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <stdlib.h>
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

SendFigures send() {
    constexpr int blocks = 100;
    constexpr int blockSize = 40;
    const auto line = VirtualLine::create();
    PortMap::map(QStringLiteral("COM6"), QString::fromLatin1(PortMap::VirtualDevice));
    PortMap::setVirtualLineProvider([line](const QString&) { return line; });
    // A far end on the GUI thread, as the virtual printer is.
    QObject printer;
    qint64 received = 0;
    line->setReceiver(&printer, [&](const QByteArray& bytes) { received += bytes.size(); });

    TComPort port;
    port.SetPort(QStringLiteral("COM6"));
    TComEvents events = TComEvents::All();
    port.SetEvents(events.Exclude(evRing));
    QEventLoop waitEmpty;
    bool empty = false;
    port.OnTxEmpty = [&](TCustomComPort*) {
        empty = true;
        waitEmpty.quit();
    };
    port.Open();
    const QByteArray block(blockSize, 'x');
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < blocks; ++i) {
        empty = false;
        port.Write(block.constData(), blockSize);
        if (!empty)
            waitEmpty.exec();
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    port.Close();
    PortMap::setVirtualLineProvider({});
    if (received != qint64(blocks) * blockSize)
        std::fprintf(stderr, "bench_serial: the far end got %lld bytes\n",
                     static_cast<long long>(received));
    const double lineSeconds = blocks * blockSize * 10.0 / 9600.0;
    return {seconds / lineSeconds, cpu / seconds};
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
    return 0;
}
