// 1000 bytes through ParallelWriteByte on the virtual port: how closely the
// 2 ms per byte pacing holds, and how little CPU the waiting costs.
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

namespace {

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

int main() {
    constexpr int Bytes = 1000;
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
    std::printf("parallel-pacing-ratio: %.4f\n", wall.count() / (0.002 * Bytes));
    std::printf("parallel-cpu: %.4f\n", cpu / wall.count());
    return 0;
}
