// The file send as the operator runs it: a 4000-byte file loaded through
// "Abrir Arquivo" and sent with "&Enviar" over COM2, a virtual line at
// 9600 bit/s, to the virtual printer, whose CTS stays on throughout.
#include "app/Application.h"
#include "app/Form1.h"
#include "app/Form4.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "connection/Form3.h"
#include "link/LinkState.h"
#include "link/comport/PortMap.h"
#include "sim/printer/VirtualPrinter.h"
#include "simlink/PrinterLinks.h"
#include "windowkit/Messages.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <time.h>

namespace {

constexpr int FileBytes = 4000;
constexpr double LineSeconds = FileBytes * 10.0 / 9600.0;

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

bool loadFile(const QTemporaryDir& dir) {
    QFile file(dir.filePath(QStringLiteral("recibo.txt")));
    QByteArray bytes;
    while (bytes.size() < FileBytes)
        bytes += "Cupom 000123  Caf\xe9 expresso   1,50\r\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.left(FileBytes)) != FileBytes)
        return false;
    file.close();
    Form4->FileName->setText(file.fileName());
    Form4->BitBtn2->click();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    PortMap::map(QStringLiteral("COM2"), QString::fromLatin1(PortMap::VirtualDevice));
    VirtualPrinter printer;
    printer.setBufferSize(1 << 20); // never nearly full, so CTS stays on
    PrinterLinks links(&printer);
    links.installProviders();
    qint64 received = 0;
    QObject::connect(&printer, &VirtualPrinter::logged, [&](const PrinterLogEntry& entry) {
        if (entry.kind == PrinterLogEntry::Kind::Received)
            received += entry.bytes.size();
    });
    Messages::Recorder messages;
    createForms();
    wireLinkDevices();

    QTemporaryDir dir;
    Form3->BitBtn2->click();
    if (!dir.isValid() || !loadFile(dir) || !LinkState.CtsActive) {
        std::fprintf(stderr, "bench_filesend: cannot set up the send\n");
        return 1;
    }
    received = 0;
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    Form1->BitBtn3->click();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;

    Form3->BitBtn2->click();
    unwireLinkDevices();
    destroyForms();
    if (received != FileBytes || !messages.entries.isEmpty()) {
        std::fprintf(stderr, "bench_filesend: the printer got %lld bytes, %lld messages shown\n",
                     static_cast<long long>(received),
                     static_cast<long long>(messages.entries.size()));
        return 1;
    }
    std::printf("file-send-line-ratio: %.4f\n", seconds / LineSeconds);
    std::printf("file-send-cpu: %.5f\n", cpu / seconds);
    return 0;
}
