// The virtual printer through its byte interface: what the program sends must
// land on the paper, in the replies and on the lines as a real printer would.
#include "sim/printer/PrintQueue.h"
#include "sim/printer/PrinterInterpreter.h"
#include "sim/printer/VirtualPrinter.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray esc(std::initializer_list<int> bytes) {
    QByteArray out(1, '\x1b');
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

// One line of paper as a short readable string.
QString describe(const PaperLine& line) {
    switch (line.kind) {
    case PaperLine::Kind::Text:
        return line.text();
    case PaperLine::Kind::Authentication:
        return QStringLiteral("{%1}%2").arg(line.note, line.text());
    case PaperLine::Kind::Image:
        return QStringLiteral("<%1 dots>").arg(line.dots.size());
    case PaperLine::Kind::Marker:
        return QStringLiteral("[%1]").arg(line.note);
    }
    return {};
}

QStringList describe(const PaperRoll& paper) {
    QStringList out;
    for (const PaperLine& line : paper.lines())
        out << describe(line);
    return out;
}

// Feeds the bytes and lets the printer print everything it can.
void printAll(VirtualPrinter& printer, const QByteArray& bytes) {
    printer.receive(bytes);
    printer.advance(600000);
}

// The settings that differ from a printer just switched on.
QStringList changedSettings(const VirtualPrinter& printer) {
    const VirtualPrinter fresh;
    QStringList out;
    if (!(printer.style() == fresh.style()))
        out << (printer.style().wide ? (printer.style().bold ? "expandido negrito" : "expandido")
                                     : "enfatizado");
    if (printer.rtsSignalling() != fresh.rtsSignalling())
        out << QStringLiteral("RTS autenticação");
    if (printer.pageLines() != fresh.pageLines())
        out << QStringLiteral("página %1").arg(printer.pageLines());
    if (printer.columnsPerLine() != fresh.columnsPerLine())
        out << QStringLiteral("%1 colunas").arg(printer.columnsPerLine());
    if (printer.paperSensor() != fresh.paperSensor())
        out << QStringLiteral("sensor desligado");
    if (printer.keyboard() != fresh.keyboard())
        out << QStringLiteral("teclado desligado");
    if (printer.lastLineFeed() != fresh.lastLineFeed())
        out << QStringLiteral("avanço %1").arg(printer.lastLineFeed());
    if (printer.dumpMode() != fresh.dumpMode())
        out << QStringLiteral("dump");
    return out;
}

QStringList repeated(const QString& text, int times) {
    QStringList out;
    for (int i = 0; i < times; ++i)
        out << text;
    return out;
}

} // namespace

class TestVirtualPrinter : public QObject {
    Q_OBJECT
private slots:
    void commandLandsOnPaper_data();
    void commandLandsOnPaper();
    void printModesBecomeRuns();
    void userCharacterPrintsInText();
    void bitImageRowHasItsDots_data();
    void bitImageRowHasItsDots();
    void dialectDecidesWhatEscVMeans_data();
    void dialectDecidesWhatEscVMeans();
    void queriesAnswerWithTheirLengths_data();
    void queriesAnswerWithTheirLengths();
    void statusReportsTheSensors();
    void commandSetsStateAndLog_data();
    void commandSetsStateAndLog();
    void paperOutStopsOnlyWithTheSensorOn();
    void rtsSignallingDrivesTheReadyLine_data();
    void rtsSignallingDrivesTheReadyLine();
    void fullBufferDropsReadyUntilHalfEmpty();
    void fullBufferLosesBytesNotTheParser();
    void paperOutRaisesErrorAndStopsPrinting();
    void offlineIsNotReadyAndFaulty();
    void printSpeedPacesTheLines();
    void drawerOpensAndCloses();
    void resetKeepsDownloadedCharacters();
    void printQueueHoldsOnlyWhatIsNotYetPrinted();
    void interpreterQueuesJobsAndHandsOnQueries_data();
    void interpreterQueuesJobsAndHandsOnQueries();
};

void TestVirtualPrinter::commandLandsOnPaper_data() {
    QTest::addColumn<bool>("compatible");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("paper");

    const QString x40(40, 'x'), x48(48, 'x'), x60(60, 'x');
    QTest::newRow("line feed prints the line")
        << false << QByteArray("ABC\n") << QStringList{"ABC"};
    QTest::newRow("carriage return is ignored")
        << false << QByteArray("AB\r\nCD\r\n") << QStringList{"AB", "CD"};
    QTest::newRow("line feed on an empty line feeds a blank")
        << false << QByteArray("\n\n") << QStringList{"", ""};
    QTest::newRow("wrap at 40") << false << esc({'P', '0'}) + QByteArray(45, 'x') + '\n'
                                << QStringList{x40, "xxxxx"};
    QTest::newRow("wrap at 48") << false << QByteArray(53, 'x') + '\n' << QStringList{x48, "xxxxx"};
    QTest::newRow("wrap at 60") << false << esc({'P', '2'}) + QByteArray(65, 'x') + '\n'
                                << QStringList{x60, "xxxxx"};
    QTest::newRow("a full line and its line feed print one line")
        << false << QByteArray(48, 'x') + '\n'
        << QStringList{x48};
    QTest::newRow("expanded characters take two columns")
        << false << esc({'W', '0'}) + QByteArray(30, 'x') + '\n'
        << QStringList{QString(24, 'x'), QString(6, 'x')};
    QTest::newRow("Windows-1252 text") << false << QByteArray("\xA2\xA5+ Pago \x80\xE7\xE3o\n")
                                       << QStringList{QStringLiteral("¢¥+ Pago €ção")};
    QTest::newRow("tab to the next eighth column")
        << false << QByteArray("ab\tc\n") << QStringList{"ab      c"};
    QTest::newRow("stray control bytes are ignored") << false
                                                     << QByteArray("a\x01\x00"
                                                                   "b\n",
                                                                   5)
                                                     << QStringList{"ab"};
    QTest::newRow("line feed command, normal: text and two blanks")
        << false << QByteArray("A") + esc({'a', 3}) << QStringList{"A", "", ""};
    QTest::newRow("line feed command, compatible")
        << true << esc({'f', 1, 2}) << QStringList{"", ""};
    QTest::newRow("line feed of zero feeds nothing") << false << esc({'a', 0}) << QStringList{};
    QTest::newRow("line feed of 255 after text")
        << false << QByteArray("A") + esc({'a', 255}) << QStringList{"A"} + repeated("", 254);
    QTest::newRow("form feed to the page boundary")
        << false << esc({'d', 5}) + "A\nB\n\f"
        << QStringList{"A", "B", "", "", "", "[Fim de página]"};
    QTest::newRow("form feed at the boundary feeds nothing")
        << false << esc({'d', 2}) + "A\nB\n\f" << QStringList{"A", "B", "[Fim de página]"};
    QTest::newRow("page size out of range is ignored")
        << false << esc({'d', 40}) + esc({'d', 3}) + esc({'d', 0}) + "A\f"
        << QStringList{"A", "", "", "[Fim de página]"};
    QTest::newRow("authentication names its device")
        << false << esc({'c', 2}) + "Pago 01/01/2001\n"
        << QStringList{QStringLiteral("{Título e Documento}Pago 01/01/2001")};
    QTest::newRow("authentication for an unknown device prints nothing")
        << false << esc({'c', 3}) + "lost\nok\n"
        << QStringList{"ok"};
    QTest::newRow("empty authentication")
        << false << esc({'c', 0, '\n'}) << QStringList{QStringLiteral("{Título}")};
    QTest::newRow("authentication without its line feed ends after 40 characters")
        << false << esc({'c', 1}) + QByteArray(45, 'a') + '\n'
        << QStringList{QStringLiteral("{Título e Fita Detalhe}") + QString(40, 'a'), "aaaaa"};
    QTest::newRow("drawer, normal")
        << false << esc({'p', 0, 10, 10}) << QStringList{"[Gaveta aberta]"};
    QTest::newRow("drawer, compatible")
        << true << esc({'v', 100}) << QStringList{"[Gaveta aberta]"};
    QTest::newRow("normal drawer in the compatible dialect prints its parameters")
        << true << esc({'p', 0, 10, 10}) << QStringList{"", ""};
    QTest::newRow("reset drops unprinted text and marks the roll")
        << false << QByteArray("lost") + esc({'@'}) + "B\n"
        << QStringList{"[Reset]", "B"};
    QTest::newRow("dump mode prints every byte in hexadecimal and text")
        << false << esc({'x'}) + "AB" + esc({'@'}) + "\n\xE7" + "CDE"
        << QStringList{"[Modo dump]", QStringLiteral("41 42 1B 40 0A E7 43 44  AB.@.çCD"),
                       QStringLiteral("45") + QString(23, ' ') + QStringLiteral("E")};
    QTest::newRow("bit image of an unknown density prints nothing")
        << false << esc({'*', 2, 3, 0}) + "abcok\n"
        << QStringList{"ok"};
    QTest::newRow("unknown sequence then text") << false << esc({'Z'}) + "ok\n"
                                                << QStringList{"ok"};
    QTest::newRow("escape after escape starts the command again")
        << false << esc({0x1B, 'M'}) + "ok\n"
        << QStringList{"ok"};
}

void TestVirtualPrinter::commandLandsOnPaper() {
    QFETCH(bool, compatible);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, paper);
    const auto model = compatible ? PrinterModel::Compatible : PrinterModel::KorvexaDual;

    VirtualPrinter whole(model);
    printAll(whole, bytes);
    QCOMPARE(describe(whole.paper()), paper);
    QCOMPARE(whole.bufferFill(), 0);

    // The line delivers one byte at a time; the result must not depend on it.
    VirtualPrinter trickled(model);
    for (char c : bytes) {
        trickled.receive(QByteArray(1, c));
        trickled.advance(10);
    }
    trickled.advance(600000);
    QCOMPARE(describe(trickled.paper()), paper);
}

void TestVirtualPrinter::printModesBecomeRuns() {
    VirtualPrinter printer;
    printAll(printer, esc({'E'}) + "a" + esc({'W', '0'}) + "b" + esc({'W', '1'}) + "c" +
                          esc({'M'}) + "d" + esc({'W', '1'}) + "e\n");
    QCOMPARE(printer.paper().lines().size(), 1);
    const QList<TextRun> expected{{"a", {false, true}},
                                  {"b", {true, false}},
                                  {"c", {true, true}},
                                  {"d", {false, false}},
                                  {"e", {true, true}}};
    QCOMPARE(printer.paper().lines()[0].runs(), expected);
}

void TestVirtualPrinter::userCharacterPrintsInText() {
    VirtualPrinter printer;
    const GlyphColumns glyph{0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0xFF};
    QByteArray download = esc({'#', 0xB3});
    for (uint8_t c : glyph)
        download += static_cast<char>(c);
    printAll(printer,
             download + "x\xB3y\xB4\n" + esc({'#', 0xA0, 1, 2, 3, 4, 5, 6, 7, 8, 9}) + "ok\n");

    QCOMPARE(describe(printer.paper()), (QStringList{QStringLiteral("x\uFFFCy´"), "ok"}));
    const PaperLine& line = printer.paper().lines()[0];
    QVERIFY(line.cells[1].userDefined);
    QCOMPARE(line.cells[1].code, uint8_t(0xB3));
    QCOMPARE(line.cells[1].columns, glyph);
    QVERIFY(!line.cells[3].userDefined); // 0xB4 was never downloaded

    // A new download changes what prints next, not what is on the paper.
    printAll(printer, esc({'#', 0xB3, 0, 0, 0, 0, 0, 0, 0, 0, 0}) + "\xB3\n");
    QCOMPARE(printer.paper().lines()[0].cells[1].columns, glyph);
    QCOMPARE(printer.paper().lines()[2].cells[0].columns, GlyphColumns{});
}

void TestVirtualPrinter::bitImageRowHasItsDots_data() {
    QTest::addColumn<int>("density");
    QTest::addColumn<QByteArray>("columns");
    QTest::addColumn<QByteArray>("dots");

    QTest::newRow("single density draws each column twice")
        << 0 << QByteArray("\x01\x80\xFF\x00\x5A", 5)
        << QByteArray("\x01\x01\x80\x80\xFF\xFF\x00\x00\x5A\x5A", 10);
    QTest::newRow("double density draws each column once")
        << 1 << QByteArray("\x01\x80\xFF\x00\x5A", 5) << QByteArray("\x01\x80\xFF\x00\x5A", 5);
    QTest::newRow("single density is clipped at the head's width")
        << 0 << QByteArray(300, '\x0F') << QByteArray(PaperRoll::HeadDots, '\x0F');
    QTest::newRow("double density is clipped at the head's width")
        << 1 << QByteArray(600, '\xF0') << QByteArray(PaperRoll::HeadDots, '\xF0');
}

void TestVirtualPrinter::bitImageRowHasItsDots() {
    QFETCH(int, density);
    QFETCH(QByteArray, columns);
    QFETCH(QByteArray, dots);
    VirtualPrinter printer;
    printAll(printer,
             QByteArray("before") +
                 esc({'*', density, int(columns.size() & 0xFF), int(columns.size() >> 8)}) +
                 columns + "after\n");
    QCOMPARE(describe(printer.paper()),
             (QStringList{"before", QStringLiteral("<%1 dots>").arg(dots.size()), "after"}));
    QCOMPARE(printer.paper().lines()[1].dots, dots);
}

void TestVirtualPrinter::dialectDecidesWhatEscVMeans_data() {
    QTest::addColumn<bool>("compatible");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("replyLength");
    QTest::addColumn<int>("drawerOpenings");
    QTest::addColumn<QStringList>("paper");

    QTest::newRow("normal: ESC v asks for the status") << false << esc({'v'}) + "d\n"
                                                       << 9 << 0 << QStringList{"d"};
    QTest::newRow("compatible: ESC v 100 opens the drawer")
        << true << esc({'v', 100}) + "d\n"
        << 0 << 1 << QStringList{"[Gaveta aberta]", "d"};
    QTest::newRow("compatible: ESC V asks for the status") << true << esc({'V'}) + "d\n"
                                                           << 9 << 0 << QStringList{"d"};
    QTest::newRow("normal: ESC V is unknown") << false << esc({'V'}) + "d\n"
                                              << 0 << 0 << QStringList{"d"};
}

void TestVirtualPrinter::dialectDecidesWhatEscVMeans() {
    QFETCH(bool, compatible);
    QFETCH(QByteArray, bytes);
    QFETCH(int, replyLength);
    QFETCH(int, drawerOpenings);
    QFETCH(QStringList, paper);

    // The model is switched on a running printer, as the window's switch does.
    VirtualPrinter printer(compatible ? PrinterModel::KorvexaDual : PrinterModel::Compatible);
    printer.setModel(compatible ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
    QSignalSpy replies(&printer, &VirtualPrinter::replied);
    printAll(printer, bytes);
    QByteArray replied;
    for (const auto& args : replies)
        replied += args.at(0).toByteArray();
    QCOMPARE(replied.size(), replyLength);
    QCOMPARE(printer.drawerOpenings(), drawerOpenings);
    QCOMPARE(describe(printer.paper()), paper);
}

void TestVirtualPrinter::queriesAnswerWithTheirLengths_data() {
    QTest::addColumn<bool>("compatible");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("model, compatible")
        << true << esc({'I', '1'}) << QByteArray("\x06Korvex BM  40/48");
    QTest::newRow("model, Korvexa Dual")
        << false << esc({'I', '1'}) << QByteArray("\x06Korvexa Dual  60");
    QTest::newRow("firmware") << false << esc({'I', '0'})
                              << QByteArray("\x06"
                                            "Firmware 1.00 VP");
    QTest::newRow("status, normal") << false << esc({'v'}) << QByteArray("\x06PLF110VN");
    QTest::newRow("status, compatible") << true << esc({'V'}) << QByteArray("\x06PLF110VN");
    QTest::newRow("unknown selector has no reply") << false << esc({'I', '2'}) << QByteArray();
}

void TestVirtualPrinter::queriesAnswerWithTheirLengths() {
    QFETCH(bool, compatible);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    VirtualPrinter printer(compatible ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
    QSignalSpy replies(&printer, &VirtualPrinter::replied);
    printer.receive(request);
    QCOMPARE(replies.size(), reply.isEmpty() ? 0 : 1);
    if (!reply.isEmpty())
        QCOMPARE(replies[0].at(0).toByteArray(), reply);
    QCOMPARE(printer.bufferFill(), 0);
}

void TestVirtualPrinter::statusReportsTheSensors() {
    VirtualPrinter printer;
    printer.setLinesPerSecond(1);
    printer.receive(esc({'8'}) + esc({'y', 0}) + esc({'~', 1}) + "queued\n" +
                    esc({'p', 0, 10, 10}));
    QCOMPARE(printer.statusReply(), QByteArray("\x06PLF001DN"));
    printer.advance(1000);
    QCOMPARE(printer.statusReply(), QByteArray("\x06PLA001VN"));
    // With its sensor off the printer cannot tell that the paper is out.
    printer.setPaperOut(true);
    printer.setOffline(true);
    printer.receive(esc({'x'}));
    QCOMPARE(printer.statusReply(), QByteArray("\x06PFA001DD"));
    // A queried status reply never carries a zero byte, so none is cut short.
    QVERIFY(!printer.statusReply().contains('\0'));
}

void TestVirtualPrinter::fullBufferDropsReadyUntilHalfEmpty() {
    VirtualPrinter printer;
    printer.setBufferSize(1024);
    printer.setLinesPerSecond(10);
    QSignalSpy changes(&printer, &VirtualPrinter::stateChanged);
    QVERIFY(printer.ready());
    const QByteArray line = QByteArray(39, 'x') + '\n'; // 40 bytes, one printed line
    for (int i = 0; i < 22; ++i)
        printer.receive(line);
    QCOMPARE(printer.bufferFill(), 880);
    QVERIFY(printer.ready());
    printer.receive(line);
    QCOMPARE(printer.bufferFill(), 920);
    QVERIFY(!printer.ready());
    QCOMPARE(printer.parallelStatus() & 0x80, 0); // busy
    QVERIFY(!printer.fault());

    printer.advance(1000); // ten lines printed, 520 bytes left: still above half
    QCOMPARE(printer.bufferFill(), 520);
    QVERIFY(!printer.ready());
    changes.clear();
    printer.advance(100);
    QCOMPARE(printer.bufferFill(), 480);
    QVERIFY(printer.ready());
    QCOMPARE(printer.parallelStatus() & 0x80, 0x80);
    QVERIFY(!changes.isEmpty());
}

void TestVirtualPrinter::fullBufferLosesBytesNotTheParser() {
    VirtualPrinter printer;
    printer.setBufferSize(1024);
    printer.setOffline(true);
    printer.receive(QByteArray(2000, 'y'));
    QCOMPARE(printer.bufferFill(), 1024);
    QCOMPARE(printer.lostBytes(), 976);
    printer.setOffline(false);
    printer.advance(600000);
    QCOMPARE(printer.bufferFill(), 16); // the last, unfinished line
    printAll(printer, "\nend\n");
    const QStringList paper = describe(printer.paper());
    QCOMPARE(paper.mid(0, 21), repeated(QString(48, 'y'), 21));
    QCOMPARE(paper.mid(21), (QStringList{QString(16, 'y'), "end"}));
}

void TestVirtualPrinter::paperOutRaisesErrorAndStopsPrinting() {
    VirtualPrinter printer;
    printer.setPaperOut(true);
    QVERIFY(printer.fault());
    QCOMPARE(printer.parallelStatus() & 0x08, 0); // error line low
    QCOMPARE(printer.parallelStatus() & 0x20, 0x20);
    printer.receive("one\ntwo\n");
    printer.advance(60000);
    QVERIFY(printer.paper().lines().isEmpty());
    QVERIFY(!printer.ready()); // out of paper, with the sensor on: not ready
    printer.setPaperOut(false);
    QVERIFY(printer.ready());
    QCOMPARE(printer.parallelStatus() & 0x08, 0x08);
    printer.advance(60000);
    QCOMPARE(describe(printer.paper()), (QStringList{"one", "two"}));
}

void TestVirtualPrinter::offlineIsNotReadyAndFaulty() {
    VirtualPrinter printer;
    QCOMPARE(printer.parallelStatus() & 0x98, 0x98);
    printer.setOffline(true);
    QVERIFY(!printer.ready());
    QVERIFY(printer.fault());
    QCOMPARE(printer.parallelStatus() & 0x98, 0);
    printer.receive("held\n");
    printer.advance(60000);
    QVERIFY(printer.paper().lines().isEmpty());
    // Queries are still answered: the host can learn why nothing prints.
    QSignalSpy replies(&printer, &VirtualPrinter::replied);
    printer.receive(esc({'v'}));
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies[0].at(0).toByteArray(), QByteArray("\x06PFF110DN"));
    printer.setOffline(false);
    printer.advance(60000);
    QCOMPARE(describe(printer.paper()), QStringList{"held"});
}

void TestVirtualPrinter::printSpeedPacesTheLines() {
    VirtualPrinter printer;
    printer.setLinesPerSecond(4);
    printer.receive("1\n2\n3\n4\n5\n");
    printer.advance(249);
    QCOMPARE(printer.paper().lines().size(), 0);
    printer.advance(1);
    QCOMPARE(printer.paper().lines().size(), 1);
    printer.advance(500);
    QCOMPARE(printer.paper().lines().size(), 3);
    printer.advance(10000);
    QCOMPARE(printer.paper().lines().size(), 5);
    // Idle time is not saved up for the next job.
    printer.receive("6\n");
    printer.advance(100);
    QCOMPARE(printer.paper().lines().size(), 5);
}

void TestVirtualPrinter::drawerOpensAndCloses() {
    VirtualPrinter printer;
    printer.receive(esc({'p', 0, 10, 10}));
    printer.advance(1);
    QVERIFY(printer.drawerOpen());
    QCOMPARE(printer.drawerOpenings(), 1);
    printer.advance(VirtualPrinter::DrawerOpenMs);
    QVERIFY(!printer.drawerOpen());
    printer.receive(esc({'p', 0, 10, 10}));
    printer.advance(1);
    QCOMPARE(printer.drawerOpenings(), 2);
}

void TestVirtualPrinter::resetKeepsDownloadedCharacters() {
    VirtualPrinter printer;
    printer.receive(esc({'#', 0xB0, 1, 1, 1, 1, 1, 1, 1, 1, 1}) + esc({'x'}));
    QVERIFY(printer.dumpMode());
    printer.receive(esc({'@'})); // printed in dump mode, not obeyed
    QVERIFY(printer.dumpMode());
    printer.powerReset();
    QVERIFY(!printer.dumpMode());
    QVERIFY(!printer.userCharacter(0xB0));
    QCOMPARE(printer.bufferFill(), 0);

    printer.receive(esc({'#', 0xB0, 1, 1, 1, 1, 1, 1, 1, 1, 1}) + esc({'@'}));
    QVERIFY(printer.userCharacter(0xB0));
}

void TestVirtualPrinter::commandSetsStateAndLog_data() {
    QTest::addColumn<bool>("compatible");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QStringList>("log");

    const auto row = [](const char* name, const QByteArray& bytes, const QStringList& settings,
                        const QStringList& log, bool compatible = false) {
        QTest::newRow(name) << compatible << bytes << settings << log;
    };
    const auto ignored = [](const char* command, const char* letter, int byte) {
        return QStringLiteral("! %1 (ESC %2): parâmetro 0x%3 inválido, comando ignorado")
            .arg(QString::fromUtf8(command), QLatin1String(letter),
                 QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper());
    };
    row("expanded bold", esc({'W', '1'}), {"expandido negrito"}, {"Modo expandido negrito"});
    row("expanded takes the digit, not the value", esc({'W', 1}), {},
        {ignored("Modo expandido", "W", 0x01)});
    row("RTS signals the authentication", esc({'~', 1}), {"RTS autenticação"},
        {QStringLiteral("Sinalização do RTS: autenticação")});
    row("RTS takes the value, not the digit", esc({'~', '1'}), {},
        {ignored("Sinalização do RTS", "~", '1')});
    row("page size 12", esc({'d', 12}), {"página 12"}, {QStringLiteral("Página de 12 linhas")});
    row("page size 40 is refused", esc({'d', 40}), {}, {ignored("Tamanho de página", "d", 40)});
    row("page size 0 is refused", esc({'d', 0}), {}, {ignored("Tamanho de página", "d", 0)});
    row("40 characters per line", esc({'P', '0'}), {"40 colunas"}, {"40 caracteres por linha"});
    row("characters per line take the digit", esc({'P', 0}), {},
        {ignored("Caracteres por linha", "P", 0)});
    row("no fourth width", esc({'P', '3'}), {}, {ignored("Caracteres por linha", "P", '3')});
    row("paper sensor off", esc({'8'}), {"sensor desligado"}, {"Sensor de papel desligado"});
    row("keyboard off", esc({'y', 0}), {"teclado desligado"}, {"Teclado desligado"});
    row("keyboard takes the value, not the digit", esc({'y', '0'}), {},
        {ignored("Teclado", "y", '0')});
    row("twelve line feeds", esc({'a', 12}), {"avanço 12"},
        {QStringLiteral("Avanço de 12 linhas")});
    row("line feeds, compatible", esc({'f', 1, 12}), {"avanço 12"},
        {QStringLiteral("Avanço de 12 linhas")}, true);
    row("compatible line feed with another function", esc({'f', 2, 12}), {},
        {ignored("Avanço de linhas", "f", 2)}, true);
    row("ESC f is unknown in the normal dialect", esc({'f', 2, 3}), {},
        {QStringLiteral("! Sequência desconhecida ESC f ignorada"),
         "! Caractere de controle 0x02 ignorado", "! Caractere de controle 0x03 ignorado"});
    row("authentication for an unknown device", esc({'c', 3}) + "x\n", {},
        {ignored("Autenticação", "c", 3)});
    row("unknown identification selector", esc({'I', '2'}), {},
        {ignored("Pedido de identificação", "I", '2')});
    row("dump mode", esc({'x'}), {"dump"}, {"Modo dump ligado"});
    row("reset restores the modes", esc({'8'}) + esc({'P', '0'}) + esc({'@'}), {},
        {"Sensor de papel desligado", "40 caracteres por linha", "Reset"});
    row("unknown sequence", esc({'Z'}), {},
        {QStringLiteral("! Sequência desconhecida ESC Z ignorada")});
}

void TestVirtualPrinter::commandSetsStateAndLog() {
    QFETCH(bool, compatible);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, settings);
    QFETCH(QStringList, log);
    VirtualPrinter printer(compatible ? PrinterModel::Compatible : PrinterModel::KorvexaDual);
    QStringList logged;
    connect(&printer, &VirtualPrinter::logged, this, [&](const PrinterLogEntry& entry) {
        if (entry.kind == PrinterLogEntry::Kind::Command)
            logged << entry.text;
        else if (entry.kind == PrinterLogEntry::Kind::Warning)
            logged << QStringLiteral("! ") + entry.text;
    });
    printer.receive(bytes);
    QCOMPARE(changedSettings(printer), settings);
    QCOMPARE(logged, log);
}

void TestVirtualPrinter::paperOutStopsOnlyWithTheSensorOn() {
    VirtualPrinter printer;
    QStringList warnings;
    connect(&printer, &VirtualPrinter::logged, this, [&](const PrinterLogEntry& entry) {
        if (entry.kind == PrinterLogEntry::Kind::Warning)
            warnings << entry.text;
    });
    printer.receive(esc({'8'}));
    printer.setPaperOut(true);
    QVERIFY(!printer.fault());
    QCOMPARE(printer.parallelStatus() & 0x28, 0x08); // no error, no paper end
    QCOMPARE(printer.statusReply().at(1), 'P');
    printAll(printer, "one\ntwo\n");
    QVERIFY(printer.paper().lines().isEmpty());
    QCOMPARE(printer.bufferFill(), 0);
    QCOMPARE(warnings,
             QStringList{QStringLiteral("Sem papel e sensor desligado: impressão perdida")});

    printer.receive(esc({'9'}));
    QVERIFY(printer.fault());
    QCOMPARE(printer.statusReply().at(1), 'S');
}

void TestVirtualPrinter::rtsSignallingDrivesTheReadyLine_data() {
    QTest::addColumn<int>("option");
    QTest::addColumn<bool>("offline");
    QTest::addColumn<bool>("authentication");
    QTest::addColumn<bool>("ready");
    QTest::newRow("on/off line: on-line") << 0 << false << false << true;
    QTest::newRow("on/off line: off-line") << 0 << true << false << false;
    QTest::newRow("on/off line: an authentication waits") << 0 << false << true << true;
    QTest::newRow("authentication: off-line is not signalled") << 1 << true << false << true;
    QTest::newRow("authentication: one waits to print") << 1 << true << true << false;
    QTest::newRow("authentication: printed") << 1 << false << true << true;
}

void TestVirtualPrinter::rtsSignallingDrivesTheReadyLine() {
    QFETCH(int, option);
    QFETCH(bool, offline);
    QFETCH(bool, authentication);
    QFETCH(bool, ready);
    VirtualPrinter printer;
    printer.setLinesPerSecond(1);
    printer.receive(esc({'~', option}));
    printer.setOffline(offline);
    if (authentication) {
        printer.receive(esc({'c', 0}) + "Pa");
        QVERIFY(printer.ready()); // the line lets the text itself through
        printer.receive("go\n");
    }
    printer.advance(500); // not yet printed
    if (authentication && !offline) {
        QCOMPARE(printer.ready(), option == 0);
        printer.advance(500);
    }
    QCOMPARE(printer.ready(), ready);
    QCOMPARE(printer.busy(), offline); // the parallel busy line never follows RTS
}

QTEST_GUILESS_MAIN(TestVirtualPrinter)
#include "tst_virtualprinter.moc"

// The buffer's bookkeeping alone: held bytes count until they are acted on,
// a job's bytes until its last line is on the paper, and a feed of n lines is
// one job that takes n lines of time.
void TestVirtualPrinter::printQueueHoldsOnlyWhatIsNotYetPrinted() {
    using Job = PrintQueue::Job;
    PrintQueue queue(1024);
    QStringList paper;
    const auto print = [&](qint64 ms, qint64 lineMs) {
        queue.print(ms, lineMs, [&](const Job& job) {
            paper << (job.kind == Job::Kind::Feed ? QStringLiteral("feed")
                                                  : QString::number(job.bytes));
        });
    };
    queue.setHeld(40);
    QCOMPARE(queue.fill(), 40);
    PaperLine marker;
    marker.kind = PaperLine::Kind::Marker;
    queue.push(Job{Job::Kind::Line, {}, 0, 41});
    queue.push(Job{Job::Kind::Feed, {}, 3, 3});
    queue.push(Job{Job::Kind::Line, marker, 0, 2});
    queue.push(Job{Job::Kind::Feed, {}, 0, 3}); // feeds nothing, holds nothing
    queue.setHeld(900);
    QCOMPARE(queue.fill(), 946);
    QVERIFY(queue.nearlyFull());
    print(350, 100); // the line, two of the three blank lines, 50 ms towards the third
    QCOMPARE(paper, (QStringList{"41", "feed", "feed"}));
    QCOMPARE(queue.fill(), 905);
    queue.setHeld(0);
    QVERIFY(!queue.nearlyFull()); // 5 left: under half
    print(30, 100);
    QCOMPARE(paper.size(), 3);
    print(20, 100); // with the 50 ms saved up: the last blank line, then the marker
    QCOMPARE(paper, (QStringList{"41", "feed", "feed", "feed", "2"}));
    QCOMPARE(queue.fill(), 0);
    QVERIFY(!queue.hasJobs());
    queue.push(Job{Job::Kind::Feed, {}, 255, 3});
    queue.pause(); // off-line: time does not add up meanwhile
    print(0, 0);   // speed 0: every line at once
    QCOMPARE(paper.size(), 5 + 255);
    QCOMPARE(queue.room(), 1024);
}

// The interpreter alone, with a bare print queue and no printer around it:
// what the bytes become in the queue, which queries it hands on to be
// answered, and what it holds back until a line or command is complete.
void TestVirtualPrinter::interpreterQueuesJobsAndHandsOnQueries_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("jobs"); // one entry per line the head would print
    QTest::addColumn<QString>("asked");
    QTest::addColumn<int>("queued"); // bytes the jobs free once printed
    QTest::addColumn<int>("held");
    QTest::newRow("a line frees its text and its line feed")
        << QByteArray("AB\n") << QStringList{"AB"} << "" << 3 << 0;
    QTest::newRow("unfinished text and half a command are held")
        << QByteArray("AB") + esc({'d'}) << QStringList{} << "" << 0 << 4;
    QTest::newRow("settings and queries queue nothing and hold nothing")
        << esc({'P', '0'}) + esc({'v'}) + esc({'I', '1'}) + esc({'I', '0'}) << QStringList{}
        << "status model firmware" << 0 << 0;
    QTest::newRow("a feed of three is one job of three lines")
        << esc({'a', 3}) << QStringList{"", "", ""} << "" << 3 << 0;
    QTest::newRow("the drawer and an authentication are jobs of their own")
        << esc({'p', 0, 10, 10}) + esc({'c', 0}) + "Pa\n"
        << QStringList{"[Gaveta aberta]", QStringLiteral("{Título}Pa")} << "" << 11 << 0;
}

void TestVirtualPrinter::interpreterQueuesJobsAndHandsOnQueries() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, jobs);
    QFETCH(QString, asked);
    QFETCH(int, queued);
    QFETCH(int, held);
    using Query = PrinterInterpreter::Query;
    PrintQueue queue(VirtualPrinter::DefaultBufferSize);
    PrinterInterpreter interpreter(queue, PrinterModel::KorvexaDual);
    QStringList queries;
    connect(&interpreter, &PrinterInterpreter::asked, this, [&](Query query) {
        queries << (query == Query::Status  ? "status"
                    : query == Query::Model ? "model"
                                            : "firmware");
    });
    for (char c : bytes)
        interpreter.take(uint8_t(c));
    QCOMPARE(queries.join(' '), asked);
    QCOMPARE(queue.fill(), queued + held);
    QStringList printed;
    queue.print(0, 0, [&](const PrintQueue::Job& job) { printed << describe(job.line); });
    QCOMPARE(printed, jobs);
    QCOMPARE(queue.fill(), held);
}
