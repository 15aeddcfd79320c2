// 1000 bytes through ParallelWriteByte on the virtual port: how closely the
// 2 ms per byte pacing holds, and how little CPU the waiting costs. Right
// before, 1000 bare 2 ms sleeps with the finest timer slack measure the
// machine's own floor, which the pacing cannot beat.
#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/PortIOAccess.h"
#include "link/Primitives.h"
#include "link/portio/LptMap.h"
#include "link/portio/PortIO.h"
#include "link/portio/VirtualParallelPort.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/prctl.h>
#include <thread>

namespace {

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

constexpr int Bytes = 1000;

// Wall time of Bytes bare 2 ms sleeps, each towards its own deadline as the
// pacing sleeps, divided by 2 ms x Bytes.
double sleepFloorRatio() {
    const int previous = prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < Bytes; ++i)
        std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                      std::chrono::milliseconds(2));
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous), 0UL, 0UL, 0UL);
    return wall.count() / (0.002 * Bytes);
}

} // namespace

int main() {
    auto port = std::make_shared<VirtualParallelPort>();
    port->setRecording(false);
    int strobes = 0;
    port->setStrobeHandler([&](uint8_t) { ++strobes; });
    LptMap::map(QStringLiteral("LPT1"), QStringLiteral("virtual"));
    LptMap::map(QStringLiteral("LPT2"), QStringLiteral("virtual"));
    LptMap::setVirtualPortProvider([&](const QString&) { return port; });

    TPortIO portIO;
    portIO.OpenDriver();
    PortIOAccess access(portIO);
    LinkDevices.PortIO1 = &access;
    LinkState.ParallelConnected = true;
    LinkState.LptBasePort = TPortIO::Lpt1Base;

    const double floor = sleepFloorRatio();
    const double cpuStart = processCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    for (int i = 0; i < Bytes; ++i)
        ParallelWriteByte(static_cast<uint8_t>(i));
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;
    const double cpu = processCpuSeconds() - cpuStart;

    LinkDevices.PortIO1 = nullptr;
    if (strobes != Bytes) {
        std::fprintf(stderr, "bench_parallel: %d of %d bytes strobed\n", strobes, Bytes);
        return 1;
    }
    const double pacing = wall.count() / (0.002 * Bytes);
    std::printf("sleep-floor-ratio: %.4f\n", floor);
    std::printf("parallel-pacing-ratio: %.4f\n", pacing);
    std::printf("parallel-pacing-vs-floor: %.4f\n", pacing / floor);
    std::printf("parallel-cpu: %.4f\n", cpu / wall.count());
    return 0;
}
