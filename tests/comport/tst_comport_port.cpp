#include "Raised.h"

#include "connection/PrinterLineSettings.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/comport/lines/virtual/VirtualLine.h"
#include "protocol/Rfc2217Codec.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <functional>
#include <map>

namespace {
// What a decoder told, as text: data runs joined, "WILL 44", "c101=00002580", "cmd 241".
class Trace : public Rfc2217::Sink {
public:
    QStringList said;
    void data(const char* bytes, int count) override {
        const QString run = "d:" + QString::fromLatin1(QByteArray(bytes, count).toHex());
        if (!said.isEmpty() && said.last().startsWith("d:"))
            said.last() += run.mid(2);
        else
            said << run;
    }
    void negotiation(Rfc2217::Command verb, uint8_t option) override {
        const char* verbs[] = {"WILL", "WONT", "DO", "DONT"};
        said << QStringLiteral("%1 %2").arg(verbs[verb - Rfc2217::Will]).arg(option);
    }
    void comPort(uint8_t code, const QByteArray& value) override {
        said << QStringLiteral("c%1=%2").arg(code).arg(QString::fromLatin1(value.toHex()));
    }
    void command(uint8_t command) override { said << QStringLiteral("cmd %1").arg(command); }
};
} // namespace

class ComPortTest : public QObject {
    Q_OBJECT
    std::shared_ptr<VirtualLine> line;

private slots:
    void init() {
        line = VirtualLine::create();
        PortMap::reset();
        PortMap::map(QStringLiteral("COM2"), QString::fromLatin1(PortMap::VirtualDevice));
        PortMap::setVirtualLineProvider(
            [this](const QString& name) { return name == QLatin1String("COM2") ? line : nullptr; });
    }
    void cleanup() {
        PortMap::setVirtualLineProvider({});
        PortMap::reset();
    }

    void setPortNormalisesTheName_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("stored");
        QTest::newRow("lower case") << "com3"
                                    << "COM3";
        QTest::newRow("mixed case") << "cOm12"
                                    << "COM12";
        QTest::newRow("bare number") << "7"
                                     << "COM7";
        QTest::newRow("highest") << "COM96"
                                 << "COM96";
        QTest::newRow("no number") << "COMX"
                                   << "COM1";
        QTest::newRow("zero") << "COM0"
                              << "COM1";
        QTest::newRow("too high") << "COM97"
                                  << "COM1";
        QTest::newRow("negative") << "-3"
                                  << "COM1";
        QTest::newRow("empty") << ""
                               << "COM1";
        QTest::newRow("other device") << "LPT1"
                                      << "COM1";
    }
    void setPortNormalisesTheName() {
        QFETCH(QString, given);
        QFETCH(QString, stored);
        TComPort port;
        port.SetPort(QStringLiteral("COM5"));
        port.SetPort(given);
        QCOMPARE(port.Port(), stored);
    }

    void comPort1SettingsGiveTheWin32Records() {
        TComPort port;
        applyPrinterLineSettings(port);
        const TDCB dcb = port.BuildDCB();
        QCOMPARE(dcb.BaudRate, 9600u);
        QCOMPARE(dcb.Flags, 0x1u);
        QCOMPARE(dcb.ByteSize, uint8_t(8));
        QCOMPARE(dcb.Parity, uint8_t(0));
        QCOMPARE(dcb.StopBits, uint8_t(0));
        QCOMPARE(dcb.XonLim, uint16_t(256));
        QCOMPARE(dcb.XoffLim, uint16_t(256));
        QCOMPARE(EventsToMask(port.Events()), 0x4FFu);
        const TCommTimeouts t = port.BuildTimeouts();
        QCOMPARE(t, (TCommTimeouts{3000, 1000, 3000, 100, 1000}));
        QCOMPARE(TComPort().BuildTimeouts().ReadIntervalTimeout, TCommTimeouts::MAXDWORD);
    }

    void settingsMapToDcbFlags_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<uint>("flags");
        QTest::addColumn<int>("errorChar");
        QTest::newRow("CTS flow") << "OutCTSFlow" << 0x5u << 0;
        QTest::newRow("DSR flow") << "OutDSRFlow" << 0x9u << 0;
        QTest::newRow("DTR enable") << "dtrEnable" << 0x11u << 0;
        QTest::newRow("DTR handshake") << "dtrHandshake" << 0x21u << 0;
        QTest::newRow("DSR sensitivity") << "DSRSensitivity" << 0x41u << 0;
        QTest::newRow("continue on XOFF") << "TxContinueOnXoff" << 0x81u << 0;
        QTest::newRow("XON/XOFF out") << "XonXoffOut" << 0x101u << 0;
        QTest::newRow("XON/XOFF in") << "XonXoffIn" << 0x201u << 0;
        QTest::newRow("parity check") << "Check" << 0x3u << 0;
        QTest::newRow("replace without check") << "Replace" << 0x1u << 0;
        QTest::newRow("check and replace") << "CheckReplace" << 0x403u << int('?');
        QTest::newRow("discard null") << "DiscardNull" << 0x801u << 0;
        QTest::newRow("RTS enable") << "rtsEnable" << 0x1001u << 0;
        QTest::newRow("RTS handshake") << "rtsHandshake" << 0x2001u << 0;
        QTest::newRow("RTS toggle") << "rtsToggle" << 0x3001u << 0;
    }
    void settingsMapToDcbFlags() {
        QFETCH(QString, setting);
        QFETCH(uint, flags);
        QFETCH(int, errorChar);
        TComPort port;
        port.Parity().SetReplaceChar('?');
        const std::map<QString, std::function<void()>> apply = {
            {"OutCTSFlow", [&] { port.FlowControl().SetOutCTSFlow(true); }},
            {"OutDSRFlow", [&] { port.FlowControl().SetOutDSRFlow(true); }},
            {"dtrEnable", [&] { port.FlowControl().SetControlDTR(dtrEnable); }},
            {"dtrHandshake", [&] { port.FlowControl().SetControlDTR(dtrHandshake); }},
            {"DSRSensitivity", [&] { port.FlowControl().SetDSRSensitivity(true); }},
            {"TxContinueOnXoff", [&] { port.FlowControl().SetTxContinueOnXoff(true); }},
            {"XonXoffOut", [&] { port.FlowControl().SetXonXoffOut(true); }},
            {"XonXoffIn", [&] { port.FlowControl().SetXonXoffIn(true); }},
            {"Check", [&] { port.Parity().SetCheck(true); }},
            {"Replace", [&] { port.Parity().SetReplace(true); }},
            {"CheckReplace",
             [&] {
                 port.Parity().SetCheck(true);
                 port.Parity().SetReplace(true);
             }},
            {"DiscardNull", [&] { port.SetDiscardNull(true); }},
            {"rtsEnable", [&] { port.FlowControl().SetControlRTS(rtsEnable); }},
            {"rtsHandshake", [&] { port.FlowControl().SetControlRTS(rtsHandshake); }},
            {"rtsToggle", [&] { port.FlowControl().SetControlRTS(rtsToggle); }},
        };
        apply.at(setting)();
        QCOMPARE(port.BuildDCB().Flags, flags);
        QCOMPARE(int(port.BuildDCB().ErrorChar), errorChar);
    }

    void outCtsFlowAppliesAtOnceWhenOpenAndAtOpenWhenClosed() {
        TComPort port;
        port.SetPort(QStringLiteral("COM2"));
        port.FlowControl().SetOutCTSFlow(true);
        QVERIFY(!line->isOpen());
        port.Open();
        QCOMPARE(line->dcb().Flags, 0x5u);
        port.FlowControl().SetOutCTSFlow(false);
        QCOMPARE(line->dcb().Flags, 0x1u);
        port.FlowControl().SetOutCTSFlow(true);
        QCOMPARE(line->dcb().Flags, 0x5u);

        // Inside BeginUpdate/EndUpdate the change waits for the end.
        port.BeginUpdate();
        port.FlowControl().SetOutCTSFlow(false);
        port.SetBaudRate(br19200);
        QCOMPARE(line->dcb().Flags, 0x5u);
        port.EndUpdate();
        QCOMPARE(line->dcb().Flags, 0x1u);
        QCOMPARE(line->dcb().BaudRate, 19200u);
        port.Close();
    }

    void exceptionTexts_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("system");
        QTest::addColumn<QString>("message");
        QTest::newRow("open, access denied")
            << 1 << 5 << "Unable to open com port (win error code: 5)";
        QTest::newRow("write, no system error") << 2 << -1 << "WriteFile function failed";
        QTest::newRow("purge") << 5 << 31 << "PurgeComm function failed (win error code: 31)";
        QTest::newRow("timeouts") << 8 << 87 << "SetCommTimeouts failed (win error code: 87)";
        QTest::newRow("links") << 18 << -1 << "Link (un)registration failed";
        QTest::newRow("led") << 19 << -1 << "Cannot change led state if ComPort is selected";
        QTest::newRow("rx buf") << 22 << -1 << "A component is linked to OnRxBuf event";
    }
    void exceptionTexts() {
        QFETCH(int, code);
        QFETCH(int, system);
        QFETCH(QString, message);
        const EComPort e(code, system);
        QCOMPARE(e.Message(), message);
        QCOMPARE(e.ErrorCode(), code);
        QCOMPARE(e.SystemErrorCode(), system);
    }

    // At open, and on an open port, where every sign of a device gone is the
    // device's I/O error, which the program takes for a lost line.
    void errnoMapsToTheWindowsCode_data() {
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("win");
        QTest::addColumn<int>("onOpenPort");
        QTest::newRow("EACCES") << EACCES << 5 << 5;
        QTest::newRow("EBUSY") << EBUSY << 5 << 5;
        QTest::newRow("EPERM") << EPERM << 5 << 5;
        QTest::newRow("ENOENT") << ENOENT << 2 << 2;
        QTest::newRow("ENODEV") << ENODEV << 2 << 1117;
        QTest::newRow("ENXIO") << ENXIO << 2 << 1117;
        QTest::newRow("ESHUTDOWN") << ESHUTDOWN << 31 << 1117;
        QTest::newRow("EIO") << EIO << 1117 << 1117;
        QTest::newRow("ENOTTY") << ENOTTY << 1 << 1;
        QTest::newRow("EINVAL") << EINVAL << 87 << 87;
    }
    void errnoMapsToTheWindowsCode() {
        QFETCH(int, err);
        QFETCH(int, win);
        QFETCH(int, onOpenPort);
        QCOMPARE(WinError::FromErrno(err), win);
        QCOMPARE(WinError::FromLineErrno(err), onOpenPort);
    }

    void operationsOnAClosedPortRaise_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("code");
        QTest::newRow("Write") << "Write" << 2;
        QTest::newRow("Read") << "Read" << 3;
        QTest::newRow("InputCount") << "InputCount" << 10;
        QTest::newRow("Signals") << "Signals" << 11;
    }
    void operationsOnAClosedPortRaise() {
        QFETCH(QString, operation);
        QFETCH(int, code);
        TComPort port;
        char buffer[4] = {};
        const std::map<QString, std::function<void()>> run = {
            {"Write", [&] { port.Write(buffer, 4); }},
            {"Read", [&] { port.Read(buffer, 4); }},
            {"InputCount", [&] { port.InputCount(); }},
            {"Signals", [&] { port.Signals(); }},
        };
        QString message;
        QCOMPARE(raisedCode(run.at(operation), &message), code);
        QVERIFY(message.endsWith(QStringLiteral("(win error code: 6)")));
    }

    void misuseRaisesItsCode() {
        TComPort port;
        TComLink link, blocks;
        port.RegisterLink(&link);
        QCOMPARE(raisedCode([&] { port.RegisterLink(&link); }), 18);
        QCOMPARE(raisedCode([&] { port.UnRegisterLink(&blocks); }), 18);

        blocks.OnRxBuf = [](TCustomComPort*, const char*, int) {};
        port.RegisterLink(&blocks);
        QCOMPARE(raisedCode([&] { port.SetTriggersOnRxChar(false); }), 22);
        port.UnRegisterLink(&blocks);
        port.SetTriggersOnRxChar(false);
        QVERIFY(!port.TriggersOnRxChar());

        port.SetPort(QStringLiteral("COM2"));
        port.Open();
        QCOMPARE(raisedCode([&] { port.SetSyncMethod(smNone); }), 14);
        port.Close();
        port.SetSyncMethod(smNone);
        QCOMPARE(port.SyncMethod(), smNone);
        port.UnRegisterLink(&link);
    }

    void openFailureLeavesThePortClosed_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("system");
        QTest::newRow("missing device") << "missing" << 1 << 2;
        QTest::newRow("regular file") << "file" << 1 << 1;
        QTest::newRow("no virtual line") << "novirtual" << 1 << 2;
        QTest::newRow("virtual line in use") << "busy" << 1 << 5;
        QTest::newRow("virtual line unplugged") << "unplugged" << 1 << 2;
        QTest::newRow("settings refused") << "badrate" << 7 << 87;
    }
    void openFailureLeavesThePortClosed() {
        QFETCH(QString, setup);
        QFETCH(int, code);
        QFETCH(int, system);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("not-a-port"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep");
        }
        TComPort other;
        other.SetPort(QStringLiteral("COM2"));
        TComPort port;
        port.SetPort(QStringLiteral("COM2"));
        if (setup == QLatin1String("missing"))
            PortMap::map(QStringLiteral("COM2"), dir.filePath(QStringLiteral("ttyNone")));
        else if (setup == QLatin1String("file"))
            PortMap::map(QStringLiteral("COM2"), file);
        else if (setup == QLatin1String("novirtual"))
            PortMap::setVirtualLineProvider({});
        else if (setup == QLatin1String("busy"))
            other.Open();
        else if (setup == QLatin1String("unplugged"))
            line->unplug();
        else if (setup == QLatin1String("badrate")) {
            port.SetBaudRate(brCustom);
            port.SetCustomBaudRate(0);
        }
        int opened = 0;
        port.OnAfterOpen = [&](TCustomComPort*) { ++opened; };
        QString message;
        QCOMPARE(raisedCode([&] { port.Open(); }, &message), code);
        QCOMPARE(message, EComPort(code, system).Message());
        QVERIFY(!port.Connected());
        QCOMPARE(opened, 0);
        if (setup == QLatin1String("badrate"))
            QVERIFY(!line->isOpen());
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep"));
    }

    // Every row is also taken a byte at a time and two bytes at a time: a
    // command cut between two reads is finished by the next.
    void rfc2217StreamsDecode_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("data, a doubled 0xFF made one")
            << QByteArray::fromHex("0041ffff42") << QStringList{"d:0041ff42"};
        QTest::newRow("negotiations") << QByteArray::fromHex("fffb2cfffd00fffc03fffe2c")
                                      << QStringList{"WILL 44", "DO 0", "WONT 3", "DONT 44"};
        QTest::newRow("the server's rate, its 0xFF doubled")
            << QByteArray::fromHex("fffa2c650000ffff25fff0") << QStringList{"c101=0000ff25"};
        QTest::newRow("modem state between data")
            << QByteArray::fromHex("61fffa2c6bb0fff062") << QStringList{"d:61", "c107=b0", "d:62"};
        QTest::newRow("a value of the wrong length is dropped")
            << QByteArray::fromHex("fffa2c012580fff063") << QStringList{"d:63"};
        QTest::newRow("an unknown code is dropped")
            << QByteArray::fromHex("fffa2c3201fff063") << QStringList{"d:63"};
        QTest::newRow("another option's subnegotiation is dropped")
            << QByteArray::fromHex("fffa18005854fff063") << QStringList{"d:63"};
        QTest::newRow("a subnegotiation cut by a command")
            << QByteArray::fromHex("fffa2c6b10fff163") << QStringList{"cmd 241", "d:63"};
        QTest::newRow("an overlong signature is dropped")
            << QByteArray::fromHex("fffa2c64") + QByteArray(300, 'x') + QByteArray::fromHex("fff0")
            << QStringList{};
        QTest::newRow("a signature")
            << QByteArray::fromHex("fffa2c64") + "ser2net" + QByteArray::fromHex("fff0")
            << QStringList{"c100=" + QByteArray("ser2net").toHex()};
    }
    void rfc2217StreamsDecode() {
        QFETCH(QByteArray, wire);
        QFETCH(QStringList, said);
        for (const int step : {int(wire.size()), 1, 2}) {
            Trace trace;
            Rfc2217::Decoder decoder(trace);
            for (qsizetype at = 0; at < wire.size(); at += step)
                decoder.take(wire.mid(at, step));
            QCOMPARE(trace.said, said);
            QVERIFY(!decoder.midCommand());
        }
        // What the client sends, byte for byte.
        QCOMPARE(Rfc2217::comPort(Rfc2217::SetBaudRate, Rfc2217::baudRateValue(9600)).toHex(),
                 "fffa2c0100002580fff0");
        QCOMPARE(Rfc2217::comPort(Rfc2217::SetControl, 0xff).toHex(), "fffa2c05fffffff0");
        QCOMPARE(Rfc2217::encodeData("a\xff\xff").toHex(), "61ffffffff");
        QCOMPARE(Rfc2217::baudRateOf(Rfc2217::baudRateValue(0xff0025ff)), 0xff0025ffu);
    }

    void setPortOnAnOpenPortReopensIt() {
        auto second = VirtualLine::create();
        PortMap::map(QStringLiteral("COM3"), QString::fromLatin1(PortMap::VirtualDevice));
        PortMap::setVirtualLineProvider(
            [&](const QString& name) { return name == QLatin1String("COM2") ? line : second; });
        TComPort port;
        QStringList seen;
        port.OnAfterClose = [&](TCustomComPort* p) { seen << "closed " + p->Port(); };
        port.OnAfterOpen = [&](TCustomComPort* p) { seen << "opened " + p->Port(); };
        port.SetPort(QStringLiteral("com2"));
        port.Open();
        port.SetPort(QStringLiteral("3"));
        QCOMPARE(seen, (QStringList{"opened COM2", "closed COM3", "opened COM3"}));
        QVERIFY(!line->isOpen());
        QVERIFY(second->isOpen());
        port.Close();
    }
};

QTEST_GUILESS_MAIN(ComPortTest)
#include "tst_comport_port.moc"
