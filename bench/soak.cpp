// The program used for a long time, through its real windows, against the
// virtual printer: 1000 connects and disconnects on each interface with the
// printer's lines changing meanwhile and a command sent on each connection,
// then 100 sends of a 20000-byte file loaded through "Abrir Arquivo". It
// prints the resident memory and the open descriptors before (after one
// warm-up round, which loads what Qt loads once) and after, and the bytes
// the printer got wrong over all sends. Fails when a figure misses its target.
#include "app/Application.h"
#include "app/Form1.h"
#include "app/Form4.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/portio/LptMap.h"
#include "sim/printer/VirtualPrinter.h"
#include "simlink/PrinterLinks.h"
#include "windowkit/Messages.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int Cycles = 1000;
constexpr int Sends = 100;
constexpr int FileBytes = 20000;
constexpr double RssTargetMb = 2.0;

double residentMb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1e6 : 0;
}

qsizetype openDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
        .size();
}

// Lets the queued events run: the port's hand-overs, the LEDs, the timers.
void settle() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

class Soak {
public:
    Soak() {
        PortMap::map(QStringLiteral("COM2"), QString::fromLatin1(PortMap::VirtualDevice));
        LptMap::map(QStringLiteral("LPT1"), QString::fromLatin1(LptMap::VirtualDevice));
        printer_.setBufferSize(1 << 20);
        links_.installProviders();
        QObject::connect(&printer_, &VirtualPrinter::logged, [this](const PrinterLogEntry& e) {
            if (e.kind == PrinterLogEntry::Kind::Received)
                received_ += e.bytes;
        });
    }

    // Connect, the printer's lines changing, one command, disconnect.
    void serialCycle() {
        Form3->BitBtn2->click();
        printer_.setOffline(true);
        settle();
        printer_.setOffline(false);
        settle();
        Form1->Reset1->trigger();
        Form3->BitBtn2->click();
        settle();
    }
    void parallelCycle() {
        Form9->BitBtn1->click();
        printer_.setPaperOut(true);
        Timer1Timer();
        printer_.setPaperOut(false);
        Timer1Timer();
        Form1->Reset1->trigger();
        Form9->BitBtn1->click();
        settle();
    }

    bool writeFile(const QString& path) {
        file_.clear();
        for (int line = 1; file_.size() < FileBytes; ++line)
            file_ += "Cupom " + QByteArray::number(line) + "  Caf\xe9 expresso   1,50\r\n";
        file_.truncate(FileBytes);
        QFile out(path);
        return out.open(QIODevice::WriteOnly) && out.write(file_) == FileBytes;
    }
    // Loads the file and sends it at 1 Mbit/s; returns the bytes the printer
    // got wrong: missing, extra or different.
    qsizetype send(const QString& path) {
        Form3->BitBtn2->click();
        Form3->ComPort1->SetCustomBaudRate(1'000'000);
        Form3->ComPort1->SetBaudRate(brCustom);
        Form1->Abrir1->trigger();
        Form4->FileName->setText(path);
        Form4->BitBtn2->click();
        received_.clear();
        Form1->BitBtn3->click();
        Form3->BitBtn2->click();
        // Printed and torn off: the buffer never fills, and the roll's own
        // store (kept up to its line limit) is not counted as the program's.
        printer_.advance(24 * 3600 * 1000);
        printer_.clearPaper();
        const qsizetype common = std::min(received_.size(), file_.size());
        qsizetype wrong = std::abs(received_.size() - file_.size());
        for (qsizetype i = 0; i < common; ++i)
            wrong += received_[i] != file_[i];
        return wrong;
    }

private:
    VirtualPrinter printer_;
    PrinterLinks links_{&printer_};
    QByteArray received_;
    QByteArray file_;
};

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    Messages::Recorder messages;
    createForms();
    wireLinkDevices();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fita.txt"));
    Soak soak;
    if (!dir.isValid() || !soak.writeFile(path)) {
        std::fprintf(stderr, "soak: cannot write the file\n");
        return 1;
    }

    soak.serialCycle();
    soak.parallelCycle();
    qsizetype wrong = soak.send(path);
    const double rssBefore = residentMb();
    const qsizetype fdBefore = openDescriptors();

    for (int i = 0; i < Cycles; ++i)
        soak.serialCycle();
    for (int i = 0; i < Cycles; ++i)
        soak.parallelCycle();
    for (int i = 0; i < Sends; ++i)
        wrong += soak.send(path);

    const double rssAfter = residentMb();
    const qsizetype fdAfter = openDescriptors();
    unwireLinkDevices();
    destroyForms();

    std::printf("soak-rss-before-mb: %.2f\n", rssBefore);
    std::printf("soak-rss-after-mb: %.2f\n", rssAfter);
    std::printf("soak-rss-growth-mb: %.2f\n", rssAfter - rssBefore);
    std::printf("soak-fd-before: %lld\n", static_cast<long long>(fdBefore));
    std::printf("soak-fd-after: %lld\n", static_cast<long long>(fdAfter));
    std::printf("soak-fd-growth: %lld\n", static_cast<long long>(fdAfter - fdBefore));
    std::printf("soak-bytes-lost-or-duplicated: %lld\n", static_cast<long long>(wrong));
    std::printf("soak-messages: %lld\n", static_cast<long long>(messages.entries.size()));
    for (const auto& shown : messages.entries.mid(0, 5))
        std::fprintf(stderr, "soak: shown: %s\n", qPrintable(shown.text));
    const bool met = rssAfter - rssBefore <= RssTargetMb && fdAfter <= fdBefore && wrong == 0 &&
                     messages.entries.isEmpty();
    return met ? 0 : 1;
}
