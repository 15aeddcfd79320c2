// The virtual printer as the program reaches it: the program's own command
// bytes through the real serial port over the virtual line, and through the
// link primitives and TPortIO over the virtual parallel port.
#include "bitmap/GridCommands.h"
#include "commands/QueryProcedure.h"
#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/PortIOAccess.h"
#include "link/Primitives.h"
#include "link/comport/ComPort.h"
#include "link/comport/PortMap.h"
#include "link/portio/LptMap.h"
#include "link/portio/PortIO.h"
#include "protocol/CommandBuilders.h"
#include "protocol/Replies.h"
#include "sim/printer/VirtualPrinter.h"
#include "simlink/PrinterLinks.h"

#include <QTest>

#include <array>
#include <memory>

namespace {

QString styled(const PaperLine& line) {
    QString out;
    for (const TextRun& run : line.runs()) {
        if (run.style.wide || run.style.bold)
            out +=
                QStringLiteral("<%1%2>").arg(run.style.wide ? "W" : "", run.style.bold ? "B" : "");
        out += run.text;
    }
    return out;
}

QStringList describe(const PaperRoll& paper) {
    QStringList out;
    for (const PaperLine& line : paper.lines()) {
        switch (line.kind) {
        case PaperLine::Kind::Text:
            out << styled(line);
            break;
        case PaperLine::Kind::Authentication:
            out << QStringLiteral("{%1}%2").arg(line.note, styled(line));
            break;
        case PaperLine::Kind::Image:
            out << QStringLiteral("<%1 dots>").arg(line.dots.size());
            break;
        case PaperLine::Kind::Marker:
            out << QStringLiteral("[%1]").arg(line.note);
            break;
        }
    }
    return out;
}

std::array<uint8_t, 9> glyph() {
    return {0x3C, 0x42, 0x81, 0xA5, 0x81, 0xA5, 0x99, 0x42, 0x3C};
}

std::array<uint8_t, 64> stripes() {
    std::array<uint8_t, 64> columns{};
    for (int i = 0; i < 64; ++i)
        columns[i] = static_cast<uint8_t>(1 << (i % 8));
    return columns;
}

} // namespace

class TestPrinterLinks : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void catalogueLandsOnPaperOverTheSerialLine_data();
    void catalogueLandsOnPaperOverTheSerialLine();
    void bitmapColumnsBecomeDots_data();
    void bitmapColumnsBecomeDots();
    void queriesAnswerOverTheSerialLine_data();
    void queriesAnswerOverTheSerialLine();
    void ctsDropsWhenTheBufferFillsAndRisesAsItDrains();
    void parallelPortCarriesTheCommands();
    void parallelLinesFollowThePrinter_data();
    void parallelLinesFollowThePrinter();

private:
    void openSerial(PrinterModel model, TBaudRate baud = br9600);
    void sendSerial(const QByteArray& bytes);

    std::unique_ptr<VirtualPrinter> printer_;
    std::unique_ptr<PrinterLinks> links_;
    std::unique_ptr<TComPort> port_;
};

void TestPrinterLinks::init() {
    PortMap::reset();
    LptMap::reset();
    PortMap::map(QStringLiteral("COM2"), QString::fromLatin1(PortMap::VirtualDevice));
    LptMap::map(QStringLiteral("LPT1"), QString::fromLatin1(LptMap::VirtualDevice));
    LptMap::map(QStringLiteral("LPT2"), QString::fromLatin1(LptMap::VirtualDevice));
    printer_ = std::make_unique<VirtualPrinter>();
    links_ = std::make_unique<PrinterLinks>(printer_.get());
    links_->installProviders();
}

void TestPrinterLinks::cleanup() {
    if (port_)
        port_->Close();
    port_.reset();
    links_.reset();
    printer_.reset();
    LinkDevices = TLinkDevices{};
    LinkState = TLinkState{};
    LinkSleep::setSleeper({});
    PortMap::reset();
    LptMap::reset();
}

void TestPrinterLinks::openSerial(PrinterModel model, TBaudRate baud) {
    printer_->setModel(model);
    port_ = std::make_unique<TComPort>();
    port_->SetPort(QStringLiteral("COM2"));
    port_->SetBaudRate(baud);
    port_->Timeouts().SetReadInterval(200);
    port_->Timeouts().SetReadTotalConstant(500);
    port_->Timeouts().SetReadTotalMultiplier(10);
    port_->Open();
    QVERIFY(port_->Connected());
}

void TestPrinterLinks::sendSerial(const QByteArray& bytes) {
    QCOMPARE(port_->Write(bytes.constData(), static_cast<int>(bytes.size())),
             static_cast<int>(bytes.size()));
}

void TestPrinterLinks::catalogueLandsOnPaperOverTheSerialLine_data() {
    using namespace Commands;
    QTest::addColumn<bool>("compatible");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("paper");

    const auto download = *Bitmap::userCharacterDownloadCommand(3, glyph());
    QTest::newRow("40 characters per line")
        << false << charactersPerLineCommand(0) + QByteArray(41, 'x') + '\n'
        << QStringList{QString(40, 'x'), "x"};
    QTest::newRow("48 characters per line")
        << false << charactersPerLineCommand(1) + QByteArray(49, 'x') + '\n'
        << QStringList{QString(48, 'x'), "x"};
    QTest::newRow("60 characters per line")
        << false << charactersPerLineCommand(2) + QByteArray(61, 'x') + '\n'
        << QStringList{QString(60, 'x'), "x"};
    QTest::newRow("print modes") << false
                                 << printModeCommand(2, 0) + "E" + printModeCommand(1, 0) + "W" +
                                        printModeCommand(1, 1) + "B" + printModeCommand(0, 0) +
                                        "n\n"
                                 << QStringList{"<B>E<W>W<WB>Bn"};
    QTest::newRow("authentication")
        << false << authenticationCommand(2, u"¢¥+ Pago 01/01/2001")
        << QStringList{QStringLiteral("{Título e Documento}¢¥+ Pago 01/01/2001")};
    QTest::newRow("line feed, normal")
        << false << QByteArray("a") + lineFeedCommand(3, false) << QStringList{"a", "", ""};
    QTest::newRow("line feed, compatible")
        << true << QByteArray("a") + lineFeedCommand(2, true) << QStringList{"a", ""};
    QTest::newRow("page size and form feed")
        << false << pageSizeCommand(4) + "a\n\f" << QStringList{"a", "", "", "", "[Fim de página]"};
    QTest::newRow("drawer, normal")
        << false << drawerCommand(false) << QStringList{"[Gaveta aberta]"};
    QTest::newRow("drawer, compatible")
        << true << drawerCommand(true) << QStringList{"[Gaveta aberta]"};
    QTest::newRow("user character in text") << false
                                            << download + "a\xB3"
                                                          "b\n"
                                            << QStringList{QStringLiteral("a\uFFFCb")};
    QTest::newRow("bitmap print") << false << Bitmap::bitmapPrintCommand(stripes(), {})
                                  << QStringList{"<128 dots>"};
    QTest::newRow("reset") << false << printModeCommand(1, 1) + resetCommand() + "n\n"
                           << QStringList{"[Reset]", "n"};
    QTest::newRow("dump mode") << false << dumpModeCommand() + resetCommand()
                               << QStringList{"[Modo dump]",
                                              QStringLiteral("1B 40") + QString(19, ' ') + " .@"};
    QTest::newRow("settings print nothing")
        << false << paperSensorCommand(1) + keyboardCommand(1) + rtsSignallingCommand(1) + "ok\n"
        << QStringList{"ok"};
}

void TestPrinterLinks::catalogueLandsOnPaperOverTheSerialLine() {
    QFETCH(bool, compatible);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, paper);
    openSerial(compatible ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
    sendSerial(bytes);
    printer_->advance(600000);
    QCOMPARE(describe(printer_->paper()), paper);
}

void TestPrinterLinks::bitmapColumnsBecomeDots_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("width");
    QTest::newRow("Simples") << 0 << 2;
    QTest::newRow("Dupla") << 1 << 1;
}

void TestPrinterLinks::bitmapColumnsBecomeDots() {
    QFETCH(int, mode);
    QFETCH(int, width);
    openSerial(PrinterModel::KorvexaDual);
    sendSerial(Bitmap::bitmapPrintCommand(stripes(), {mode, false, false}));
    printer_->advance(1000);
    QCOMPARE(printer_->paper().lines().size(), 1);
    const QByteArray dots = printer_->paper().lines()[0].dots;
    QCOMPARE(dots.size(), 64 * width);
    for (int i = 0; i < 64; ++i)
        for (int w = 0; w < width; ++w)
            QCOMPARE(static_cast<uint8_t>(dots[i * width + w]), stripes()[i]);
}

void TestPrinterLinks::queriesAnswerOverTheSerialLine_data() {
    QTest::addColumn<bool>("compatible");
    QTest::addColumn<int>("query");
    QTest::addColumn<QByteArray>("text");
    using Commands::Query;
    QTest::newRow("model, compatible")
        << true << int(Query::Model) << QByteArray("Korvex BM  40/48");
    QTest::newRow("model, Korvexa Dual")
        << false << int(Query::Model) << VirtualPrinter::DualModelName;
    QTest::newRow("firmware") << false << int(Query::Firmware) << VirtualPrinter::FirmwareName;
    QTest::newRow("status, normal") << false << int(Query::Status) << QByteArray("PLF110VN");
    QTest::newRow("status, compatible") << true << int(Query::Status) << QByteArray("PLF110VN");
}

void TestPrinterLinks::queriesAnswerOverTheSerialLine() {
    QFETCH(bool, compatible);
    QFETCH(int, query);
    QFETCH(QByteArray, text);
    const auto q = static_cast<Commands::Query>(query);
    openSerial(compatible ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
    sendSerial(Commands::queryRequest(q, compatible));
    const int length = Commands::queryReplyLength(q);
    QByteArray reply(length + 1, '\0');
    QCOMPARE(port_->Read(reply.data(), length + 1), length); // no byte more than the reply
    const auto decoded = q == Commands::Query::Status
                             ? Commands::decodeStatusReply(reply, length)
                             : Commands::decodeIdentificationReply(reply, length);
    QVERIFY(decoded);
    QCOMPARE(*decoded, text);
}

void TestPrinterLinks::ctsDropsWhenTheBufferFillsAndRisesAsItDrains() {
    printer_->setBufferSize(1024);
    printer_->setLinesPerSecond(10);
    openSerial(PrinterModel::KorvexaDual, br115200);
    QList<bool> changes;
    port_->OnCTSChange = [&](TCustomComPort*, bool on) { changes << on; };
    QTRY_VERIFY(port_->Signals().Contains(csCTS));

    const QByteArray line = QByteArray(39, 'x') + '\n';
    for (int i = 0; i < 23; ++i)
        sendSerial(line);
    QVERIFY(!printer_->ready());
    QTRY_VERIFY(!port_->Signals().Contains(csCTS));
    QTRY_COMPARE(changes, QList<bool>{false});

    printer_->advance(1000); // 520 bytes left: above half, still not ready
    QVERIFY(!port_->Signals().Contains(csCTS));
    printer_->advance(100);
    QTRY_VERIFY(port_->Signals().Contains(csCTS));
    QTRY_COMPARE(changes, (QList<bool>{false, true}));
    port_->OnCTSChange = nullptr;
}

void TestPrinterLinks::parallelPortCarriesTheCommands() {
    TPortIO portIO;
    portIO.BasePort = TPortIO::Lpt2Base;
    portIO.OpenDriver();
    QVERIFY(portIO.ActiveHW());
    PortIOAccess access(portIO);
    LinkDevices.PortIO1 = &access;
    LinkState.ParallelConnected = true;
    LinkState.LptBasePort = TPortIO::Lpt2Base;
    LinkSleep::setSleeper([](int) {});

    const QByteArray bytes = Commands::printModeCommand(1, 0) + "Total" +
                             Commands::printModeCommand(0, 0) + " 10,00\n" +
                             Commands::drawerCommand(false);
    for (char b : bytes)
        ParallelWriteByte(static_cast<uint8_t>(b));
    printer_->advance(600000);
    QCOMPARE(describe(printer_->paper()), (QStringList{"<W>Total 10,00", "[Gaveta aberta]"}));
}

void TestPrinterLinks::parallelLinesFollowThePrinter_data() {
    QTest::addColumn<bool>("paperOut");
    QTest::addColumn<bool>("offline");
    QTest::addColumn<bool>("fault");
    QTest::addColumn<bool>("busy");
    QTest::newRow("ready") << false << false << false << false;
    QTest::newRow("paper out") << true << false << true << false;
    QTest::newRow("off-line") << false << true << true << true;
    QTest::newRow("both") << true << true << true << true;
}

void TestPrinterLinks::parallelLinesFollowThePrinter() {
    QFETCH(bool, paperOut);
    QFETCH(bool, offline);
    QFETCH(bool, fault);
    QFETCH(bool, busy);
    TPortIO portIO;
    portIO.OpenDriver();
    PortIOAccess access(portIO);
    LinkDevices.PortIO1 = &access;
    LinkDevices.VerificaBusyChecked = [] { return true; };
    LinkState.ParallelConnected = true;
    LinkState.LptBasePort = TPortIO::Lpt1Base;

    printer_->setPaperOut(paperOut);
    printer_->setOffline(offline);
    PollParallelBusy();
    PollParallelFault();
    QCOMPARE(LinkState.PrinterFault, fault);
    QCOMPARE(LinkState.PrinterBusy, busy);

    printer_->setPaperOut(false);
    printer_->setOffline(false);
    PollParallelBusy();
    PollParallelFault();
    QVERIFY(!LinkState.PrinterFault);
    QVERIFY(!LinkState.PrinterBusy);
}

QTEST_GUILESS_MAIN(TestPrinterLinks)
#include "tst_printerlinks.moc"
