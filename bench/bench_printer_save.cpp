// tellumo-printer answering on the network while it writes its files: a
// 200 kB roll (5000 lines of 40 characters) drawn four pixels a dot, and a
// client on --listen asking for the status every 50 ms meanwhile. The figure
// is the longest answer, in ms.
#include "PrinterProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

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

// The roll printed, then the longest status answer while "save" writes it.
double saveGapMs(const PrinterProcess& printer) {
    const int fd = connectTcp(printer.port("listen"));
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
    PrinterProcess printer(
        folder.path(), {"--listen", "0", "--png", folder.filePath("roll.png"), "--png-scale", "4"},
        300000);
    const double gap = saveGapMs(printer);
    if (gap < 0) {
        std::fprintf(stderr, "bench_printer_save: the printer did not save or answer\n");
        return 1;
    }
    std::printf("printer-save-gap-ms: %.1f\n", gap);
    return 0;
}
