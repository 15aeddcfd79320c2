#include "link/portio/LptMap.h"
#include "link/portio/PortIO.h"
#include "link/portio/VirtualParallelPort.h"

#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

using Reg = ParallelPortBackend::Register;
using Access = VirtualParallelPort::Access;

namespace {
// The system's text for an errno, in whatever language the machine speaks.
QString sys(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}
} // namespace

class PortIOTest : public QObject {
    Q_OBJECT

    std::shared_ptr<VirtualParallelPort> lpt1, lpt2;
    int provided = 0;

    void attachBoth() {
        LptMap::map(QStringLiteral("LPT1"), QStringLiteral("virtual"));
        LptMap::map(QStringLiteral("LPT2"), QStringLiteral("virtual"));
    }

private slots:
    void init() {
        lpt1 = std::make_shared<VirtualParallelPort>();
        lpt2 = std::make_shared<VirtualParallelPort>();
        provided = 0;
        LptMap::setVirtualPortProvider([this](const QString& name) {
            ++provided;
            return name == QLatin1String("LPT1") ? lpt1 : lpt2;
        });
    }
    void cleanup() {
        LptMap::setVirtualPortProvider({});
        LptMap::reset();
    }

    void lptNamesMapToDevices() {
        for (const char* name : {"LPT1", "LPT2"})
            QCOMPARE(LptMap::device(name), LptMap::defaultDevice(name));
        QCOMPARE(LptMap::device(QStringLiteral("LPT3")), QString());
        LptMap::map(QStringLiteral("LPT2"), QStringLiteral("/dev/usb/lp0"));
        QCOMPARE(LptMap::device(QStringLiteral("LPT2")), QStringLiteral("/dev/usb/lp0"));
        LptMap::map(QStringLiteral("LPT2"), QString());
        QCOMPARE(LptMap::device(QStringLiteral("LPT2")), LptMap::defaultDevice("LPT2"));
    }

    void openDriverOpensOnlyThePortPicked_data() {
        QTest::addColumn<QString>("lpt1Device");
        QTest::addColumn<QString>("lpt2Device");
        QTest::addColumn<quint16>("base");
        QTest::addColumn<bool>("provider");
        QTest::addColumn<QString>("lastError"); // empty: the port opened
        const QString missing = QStringLiteral("/nonexistent/parport0");
        const QString virt = QStringLiteral("virtual");
        const QString file = QCoreApplication::applicationFilePath();
        QTest::newRow("missing") << missing << virt << quint16(0x378) << true
                                 << "open " + missing + ": " + sys(ENOENT);
        QTest::newRow("a device that is no parallel port")
            << "/dev/null" << virt << quint16(0x378) << true
            << "open /dev/null: not a parallel port device";
        QTest::newRow("a file") << file << virt << quint16(0x378) << true
                                << "open " + file + ": not a parallel port device";
        QTest::newRow("virtual without printer") << virt << virt << quint16(0x378) << false
                                                 << "LPT1: the virtual printer is not running";
        QTest::newRow("LPT2, LPT1 missing") << missing << virt << quint16(0x278) << true << "";
        QTest::newRow("LPT1, LPT2 missing") << virt << missing << quint16(0x378) << true << "";
    }
    void openDriverOpensOnlyThePortPicked() {
        QFETCH(QString, lpt1Device);
        QFETCH(QString, lpt2Device);
        QFETCH(quint16, base);
        QFETCH(bool, provider);
        QFETCH(QString, lastError);
        LptMap::map(QStringLiteral("LPT1"), lpt1Device);
        LptMap::map(QStringLiteral("LPT2"), lpt2Device);
        if (!provider)
            LptMap::setVirtualPortProvider({});
        TPortIO portIO;
        portIO.BasePort = base;
        portIO.OpenDriver();
        QCOMPARE(portIO.ActiveHW(), lastError.isEmpty());
        QCOMPARE(portIO.LastError(), lastError);
        QCOMPARE(provided, int(lastError.isEmpty()));
        const std::shared_ptr<VirtualParallelPort>& other = base == 0x378 ? lpt2 : lpt1;
        QCOMPARE(other.use_count(), 1);
    }

    void openLoseAndCloseFollowTheLifecycle() {
        attachBoth();
        TPortIO portIO;
        QSignalSpy lost(&portIO, &TPortIO::deviceLost);
        QCOMPARE(portIO.CloseDriver(), false);

        portIO.OpenDriver();
        QVERIFY(portIO.ActiveHW());
        portIO.OpenDriver(); // already active: nothing is opened again
        QCOMPARE(provided, 1);
        QCOMPARE(lpt1.use_count(), 2);

        // A device that goes away is reported once and reads as a busy,
        // faulted printer; nothing more reaches it.
        lpt1->setLost(true);
        lpt1->clearAccesses();
        QCOMPARE(portIO.GetPortByte(0x379), TPortIO::LostPortByte);
        portIO.SetPortByte(0x378, 'x');
        QCOMPARE(portIO.GetPortByte(0x37A), TPortIO::LostPortByte);
        QCOMPARE(lpt1->accesses().size(), 1);
        QCOMPARE(lost.size(), 1);
        QVERIFY(portIO.Lost());

        QCOMPARE(portIO.CloseDriver(), true);
        QVERIFY(!portIO.ActiveHW());
        QVERIFY(!portIO.Lost());
        QCOMPARE(lpt1.use_count(), 1);
        QCOMPARE(portIO.GetPortByte(0x379), quint8(0xFF));
        QCOMPARE(portIO.CloseDriver(), false);

        // Back again, it opens as new.
        lpt1->setLost(false);
        portIO.OpenDriver();
        QCOMPARE(portIO.GetPortByte(0x379), VirtualParallelPort::ReadyStatus);
        QCOMPARE(lost.size(), 1);
    }

    void destructionReleasesAnOpenPort() {
        attachBoth();
        {
            TPortIO portIO;
            portIO.BasePort = TPortIO::Lpt2Base;
            portIO.OpenDriver();
            QCOMPARE(lpt2.use_count(), 2);
        }
        QCOMPARE(lpt2.use_count(), 1);
    }

    void addressesDecodeToPortAndRegister_data() {
        QTest::addColumn<quint16>("base"); // the port opened
        QTest::addColumn<quint16>("address");
        QTest::addColumn<int>("lpt"); // 0 = no port
        QTest::addColumn<int>("reg");
        QTest::newRow("0x378 data") << quint16(0x378) << quint16(0x378) << 1 << int(Reg::Data);
        QTest::newRow("0x379 status") << quint16(0x378) << quint16(0x379) << 1 << int(Reg::Status);
        QTest::newRow("0x37A control")
            << quint16(0x378) << quint16(0x37A) << 1 << int(Reg::Control);
        QTest::newRow("0x278 data") << quint16(0x278) << quint16(0x278) << 2 << int(Reg::Data);
        QTest::newRow("0x279 status") << quint16(0x278) << quint16(0x279) << 2 << int(Reg::Status);
        QTest::newRow("0x27A control")
            << quint16(0x278) << quint16(0x27A) << 2 << int(Reg::Control);
        QTest::newRow("0x279 while LPT1 is open") << quint16(0x378) << quint16(0x279) << 0 << 0;
        QTest::newRow("0x377 below") << quint16(0x378) << quint16(0x377) << 0 << 0;
        QTest::newRow("0x37B above") << quint16(0x378) << quint16(0x37B) << 0 << 0;
        QTest::newRow("0x3BC other base") << quint16(0x378) << quint16(0x3BC) << 0 << 0;
    }
    void addressesDecodeToPortAndRegister() {
        QFETCH(quint16, base);
        QFETCH(quint16, address);
        QFETCH(int, lpt);
        QFETCH(int, reg);
        attachBoth();
        TPortIO portIO;
        portIO.BasePort = base;
        portIO.OpenDriver();
        lpt1->setStatus(0x5A);
        lpt2->setStatus(0x5A);

        portIO.SetPortByte(address, 0x42);
        const uint8_t read = portIO.GetPortByte(address);

        const auto r = static_cast<Reg>(reg);
        const uint8_t expectedRead = lpt == 0 ? 0xFF : r == Reg::Status ? 0x5A : 0x42;
        QCOMPARE(read, expectedRead);
        const QList<Access> expected{{r, true, 0x42}, {r, false, expectedRead}};
        QCOMPARE(lpt1->accesses(), lpt == 1 ? expected : QList<Access>());
        QCOMPARE(lpt2->accesses(), lpt == 2 ? expected : QList<Access>());
    }

    void portListsRunInOrder() {
        attachBoth();
        TPortIO portIO;
        portIO.OpenDriver();
        lpt1->setStatus(0x87);

        TPortControlRec control[] = {{0x378, 0x31, true}, {0x379, 0, false}, {0x378, 0, false}};
        portIO.PortControl(control);
        QCOMPARE(control[1].Value, quint8(0x87));
        QCOMPARE(control[2].Value, quint8(0x31));

        // Wide accesses reach consecutive byte ports, lowest byte first; the
        // fourth byte of 0x378 is no port and reads 0xFF.
        TPortCommandRec command[] = {
            {0x378, 0x0000A5C3, TPortWidth::Word, true},
            {0x378, 0, TPortWidth::Word, false},
            {0x378, 0, TPortWidth::DWord, false},
        };
        portIO.PortCommand(command);
        QCOMPARE(lpt1->status(), quint8(0x87));
        QCOMPARE(command[1].Value, quint32(0x87C3));
        QCOMPARE(command[2].Value, quint32(0xFF0087C3));
    }

    void virtualPortReportsEachStrobedByteOnce() {
        VirtualParallelPort port;
        QByteArray seen;
        port.setStrobeHandler([&](uint8_t b) {
            seen.append(char(b));
            port.setBusy(true); // the printer may answer from inside the handler
        });
        port.write(Reg::Data, 'a');
        port.write(Reg::Control, 0x0C);
        port.write(Reg::Control, 0x0D); // asserted
        port.write(Reg::Control, 0x0D); // still asserted: no second byte
        port.write(Reg::Control, 0x0C);
        port.write(Reg::Data, 'b');
        port.write(Reg::Control, 0x0D);
        QCOMPARE(seen, QByteArray("ab"));
        QCOMPARE(port.status() & VirtualParallelPort::NotBusyLine, 0);

        port.setRecording(false);
        port.write(Reg::Data, 'c');
        QCOMPARE(port.accesses().size(), 7);
    }

    // The printer emulation drives the lines from its own thread while the GUI
    // thread strobes bytes (run under the tsan preset to check the locking).
    void statusLinesMayChangeWhileBytesAreStrobed() {
        VirtualParallelPort port;
        port.setRecording(false);
        int strobes = 0;
        port.setStrobeHandler([&](uint8_t) { ++strobes; });
        std::atomic<bool> stop{false};
        std::thread printer([&] {
            for (bool on = true; !stop; on = !on) {
                port.setBusy(on);
                port.setFault(!on);
            }
        });
        for (int i = 0; i < 2000; ++i) {
            port.write(Reg::Data, uint8_t(i));
            port.write(Reg::Control, 0x01);
            port.write(Reg::Control, 0x00);
            QCOMPARE(port.read(Reg::Status) & 0x57, 0x57);
        }
        stop = true;
        printer.join();
        QCOMPARE(strobes, 2000);
    }

    void statusLinesSetTheirBitsOnly() {
        VirtualParallelPort port;
        port.setStatus(0x07);
        port.setFault(false);
        port.setBusy(false);
        QCOMPARE(port.read(Reg::Status), quint8(0x8F));
        port.setFault(true);
        QCOMPARE(port.read(Reg::Status), quint8(0x87));
        port.setBusy(true);
        QCOMPARE(port.read(Reg::Status), quint8(0x07));
    }
};

QTEST_GUILESS_MAIN(PortIOTest)
#include "tst_portio.moc"
