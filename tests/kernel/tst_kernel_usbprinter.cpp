// A USB printer on a COM port, both ways, inside the virtual machine of
// scripts/kernel-test: the program's own windows with COM2 led to
// /dev/usb/lp0 from the command line, the usblp driver on the host side of
// the kernel's gadget loopback, and the gadget side (/dev/g_printer0) playing
// the printer: it answers the status, model and firmware requests and sets
// the status usblp reads. Anywhere else the test skips.
#include "comport/EventThreadWakeups.h"
#include "kernel/Guest.h"

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Form1.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "connection/Form3.h"
#include "connection/PortChoices.h"
#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/comport/ComLed.h"
#include "link/comport/ComPort.h"
#include "windowkit/Messages.h"

#include <QAction>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <thread>

namespace {

const QString Node = QStringLiteral("/dev/usb/lp0");
const QByteArray PrinterId = "MFG:Korvexa;MDL:Dual USB;CMD:ESC/POS;CLS:PRINTER;";
const QByteArray ModelRequest = "\x1bI1";
const QString Lost = QStringLiteral("A conexão com a porta serial COM2 foi perdida - verifique o "
                                    "cabo ou o adaptador: a conexão volta sozinha quando ele for "
                                    "ligado de novo");

QByteArray pattern(int size) {
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

} // namespace

class KernelUsbPrinterTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsFolder;
    std::unique_ptr<Guest::UsbGadget> gadget;
    std::unique_ptr<Guest::GadgetPrinter> printer;

    // Plugs the printer in. Its gadget side opens once the host has set the
    // device up, before this thread lets the serial dialog see it come back;
    // until then the printer reads as not selected.
    bool plug() {
        if (!gadget->plug() || !Guest::waitFor(Node, true, 20000))
            return false;
        printer = std::make_unique<Guest::GadgetPrinter>(true);
        return printer->opened();
    }

private slots:
    void initTestCase() {
        if (!Guest::inMachine())
            QSKIP(Guest::NotInMachine);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
        PortChoices::applyAtStart(parseCommandLine({"tellumo", "--com2", Node}));
        gadget = std::make_unique<Guest::UsbGadget>(Guest::UsbGadget::Printer, PrinterId);
        QVERIFY(gadget->made());
        QVERIFY(plug());
    }
    void cleanupTestCase() {
        Messages::Recorder quiet;
        if (Form3->ComPort1->Connected())
            Form3->BitBtn2->click();
        printer.reset();
        gadget.reset();
    }
    void init() { Guest::testStarts(); }
    void cleanup() { Guest::testEnds(); }

    // Connecting asks the printer for its model, and Status, Sobre ›
    // Impressora and Sobre › Firmware show what it answers.
    void theQueriesAreAnsweredByThePrinter() {
        Messages::Recorder recorder;
        Form3->BitBtn2->click();
        QVERIFY(Form3->ComPort1->Connected());
        QVERIFY(LinkState.CtsActive);
        QCOMPARE(Form1->ComLed1->State(), lsOn);
        Form1->BitBtn2->click();
        Form1->Impressora1->trigger();
        Form1->Firmware1->trigger();
        QCOMPARE(recorder.texts(), (QStringList{Guest::GadgetStatusText, Guest::GadgetModelText,
                                                Guest::GadgetFirmwareText}));
        QCOMPARE(printer->received(), ModelRequest + "\x1bv" + ModelRequest + "\x1bI0");
    }

    // Each of paper out, off-line and error is CTS off within a second, as
    // the status is read every 400 ms; ready again, CTS on.
    void aPrinterNotReadyIsCtsOff_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("paper empty") << 0x38;
        QTest::newRow("not selected") << 0x08;
        QTest::newRow("error") << 0x10;
    }
    void aPrinterNotReadyIsCtsOff() {
        QFETCH(int, status);
        QVERIFY(Form3->ComPort1->Connected() && LinkState.CtsActive);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(printer->setStatus(uchar(status)));
        QTRY_VERIFY_WITH_TIMEOUT(!LinkState.CtsActive, 5000);
        const qint64 took = clock.elapsed();
        std::printf("usb-printer CTS off %lld ms after status 0x%02x\n",
                    static_cast<long long>(took), status);
        QVERIFY2(took <= 1000, qPrintable(QString::number(took)));
        QCOMPARE(Form1->ComLed1->State(), lsOff);
        QVERIFY(printer->setStatus(0x18));
        QTRY_VERIFY_WITH_TIMEOUT(LinkState.CtsActive, 5000);
    }

    // The status is read on a timer, the only thing that wakes the idle
    // port: each read wakes its thread, which then waits once for the
    // printer's answer. Every 400 ms is at most 11 reads in 4 s.
    void anIdlePrinterIsLookedAtEvery400Ms() {
        QTest::qWait(500);
        const qint64 before = eventThreadWakeups();
        QTest::qWait(4000);
        const double perSecond = double(eventThreadWakeups() - before) / 2 / 4;
        std::printf("usb-printer status reads (per second): %.2f\n", perSecond);
        QVERIFY2(perSecond <= 11.0 / 4, qPrintable(QString::number(perSecond)));
    }

    // A printer that stops reading holds a write, which times out with what
    // the driver took counted as written; sent on once it reads again, every
    // byte arrives once.
    void aHeldWriteIsSentOnWithNothingLostOrTwice() {
        TComTimeouts& timeouts = Form3->ComPort1->Timeouts();
        timeouts.SetWriteTotalMultiplier(0);
        timeouts.SetWriteTotalConstant(300);
        const auto usual = qScopeGuard([&] {
            timeouts.SetWriteTotalMultiplier(100);
            timeouts.SetWriteTotalConstant(1000);
        });
        const QByteArray before = printer->received();
        printer->setReading(false);
        const QByteArray data = pattern(256 * 1024);
        int sent = LinkDevices.ComPort1->Write(data.constData(), int(data.size()));
        QVERIFY2(sent > 0 && sent < data.size(), qPrintable(QString::number(sent)));
        printer->setReading(true);
        for (int turn = 0; turn < 100 && sent < data.size(); ++turn)
            sent += LinkDevices.ComPort1->Write(data.constData() + sent, int(data.size()) - sent);
        QCOMPARE(sent, int(data.size()));
        QTRY_COMPARE_WITH_TIMEOUT(printer->received().size(), before.size() + data.size(), 10000);
        QVERIFY(printer->received() == before + data);
    }

    // Unplugged idle or while a query waits for its reply: one lost-line box,
    // nothing else; plugged back in, the port connects again by itself and
    // asks for the model.
    void anUnplugIsOneLostLineAndItComesBack_data() {
        QTest::addColumn<bool>("duringQuery");
        QTest::newRow("idle") << false;
        QTest::newRow("during a query") << true;
    }
    void anUnplugIsOneLostLineAndItComesBack() {
        QFETCH(bool, duringQuery);
        QVERIFY(Form3->ComPort1->Connected());
        Messages::Recorder recorder;
        if (duringQuery) {
            printer->setAnswering(false);
            std::thread puller([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                gadget->unplug();
            });
            Form1->BitBtn2->click();
            puller.join();
        } else {
            QVERIFY(gadget->unplug());
        }
        QVERIFY(Guest::waitFor(Node, false, 20000));
        // The gadget's node must be closed before the device comes back.
        printer.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!Form3->ComPort1->Connected(), 10000);
        QTest::qWait(500);
        QCOMPARE(recorder.texts(), QStringList{Lost});
        QVERIFY(plug());
        QTRY_VERIFY_WITH_TIMEOUT(Form3->ComPort1->Connected(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(printer->received(), ModelRequest, 25000);
        Form1->BitBtn2->click();
        QCOMPARE(recorder.texts(), (QStringList{Lost, Guest::GadgetStatusText}));
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    createForms();
    wireLinkDevices();
    KernelUsbPrinterTest test;
    const int result = QTest::qExec(&test, argc, argv);
    unwireLinkDevices();
    destroyForms();
    return result;
}

#include "tst_kernel_usbprinter.moc"
