#include "FakeLink.h"
#include "bitmap/GridCommands.h"
#include "commands/SendProcedure.h"
#include "protocol/CommandBuilders.h"
#include "windowkit/Messages.h"

#include <QTest>
#include <array>
#include <vector>

using Commands::Command;

Q_DECLARE_METATYPE(Commands::Command)

namespace {

struct CatalogueRow {
    const char* name;
    Command command;
    QByteArray bytes;
    const char* hex;
};

QByteArray userCharacter() {
    std::array<uint8_t, 9> columns{0x01, 0, 0, 0, 0, 0, 0, 0, 0x80};
    return *Bitmap::userCharacterDownloadCommand(3, columns);
}

QByteArray bitmapPrint() {
    std::array<uint8_t, 64> columns{};
    columns[0] = 0x81;
    return Bitmap::bitmapPrintCommand(columns, {});
}

// Every command, in both dialects where they differ, as the senders build it.
std::vector<CatalogueRow> catalogue() {
    using namespace Commands;
    return {
        {"reset from the menu", Command::ResetFromMenu, resetCommand(), "1b 40"},
        {"reset from the button", Command::ResetFromButton, resetCommand(), "1b 40"},
        {"dump mode", Command::DumpMode, dumpModeCommand(), "1b 78"},
        {"drawer normal", Command::Drawer, drawerCommand(false), "1b 70 00 0a 0a"},
        {"drawer compatible", Command::Drawer, drawerCommand(true), "1b 76 64"},
        {"print mode normal", Command::PrintMode, printModeCommand(0, 1), "1b 4d"},
        {"print mode expanded normal", Command::PrintMode, printModeCommand(1, 0), "1b 57 30"},
        {"print mode expanded bold", Command::PrintMode, printModeCommand(1, 1), "1b 57 31"},
        {"print mode emphasized", Command::PrintMode, printModeCommand(2, 1), "1b 45"},
        {"rts on/off line", Command::RtsSignalling, rtsSignallingCommand(0), "1b 7e 00"},
        {"rts authentication", Command::RtsSignalling, rtsSignallingCommand(1), "1b 7e 01"},
        {"authentication title", Command::Authentication, authenticationCommand(0, u"Ab"),
         "1b 63 00 41 62 0a"},
        {"authentication detail tape", Command::Authentication, authenticationCommand(1, u"x"),
         "1b 63 01 78 0a"},
        {"authentication document", Command::Authentication, authenticationCommand(2, u""),
         "1b 63 02 0a"},
        {"page size", Command::PageSize, pageSizeCommand(12), "1b 64 0c"},
        {"40 characters", Command::CharactersPerLine, charactersPerLineCommand(0), "1b 50 30"},
        {"48 characters", Command::CharactersPerLine, charactersPerLineCommand(1), "1b 50 31"},
        {"60 characters", Command::CharactersPerLine, charactersPerLineCommand(2), "1b 50 32"},
        {"paper sensor on", Command::PaperSensor, paperSensorCommand(0), "1b 39"},
        {"paper sensor off", Command::PaperSensor, paperSensorCommand(1), "1b 38"},
        {"line feed normal", Command::LineFeed, lineFeedCommand(5, false), "1b 61 05"},
        {"line feed compatible", Command::LineFeed, lineFeedCommand(5, true), "1b 66 01 05"},
        {"keyboard on", Command::Keyboard, keyboardCommand(0), "1b 79 01"},
        {"keyboard off", Command::Keyboard, keyboardCommand(1), "1b 79 00"},
        {"user character", Command::UserCharacterDownload, userCharacter(),
         "1b 23 b3 01 00 00 00 00 00 00 00 80"},
        {"bitmap print", Command::BitmapPrint, bitmapPrint(),
         "1b 2a 00 40 00 81 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00"},
    };
}

// What the serial path does around its one write (%1), per command.
QString serialSequence(Command command) {
    switch (command) {
    case Command::ResetFromMenu:
    case Command::Authentication:
        return QStringLiteral("write %1|sleep 10");
    case Command::ResetFromButton:
        return QStringLiteral("cts flow off|write %1|sleep 5|cts flow on");
    case Command::DumpMode:
    case Command::Drawer:
        return QStringLiteral("write %1");
    case Command::RtsSignalling:
    case Command::PageSize:
        return QStringLiteral("cts flow off|write %1|cts flow on|hide");
    case Command::PaperSensor:
        return QStringLiteral("write %1|sleep 200|hide");
    case Command::UserCharacterDownload:
        return QStringLiteral("write %1|sleep 10|hide");
    case Command::BitmapPrint:
        return QStringLiteral("write %1|sleep 10");
    case Command::PrintMode:
    case Command::CharactersPerLine:
    case Command::LineFeed:
    case Command::Keyboard:
        return QStringLiteral("write %1|hide");
    }
    return {};
}

// The parallel path: each byte strobed with the primitive's 2 ms, then the
// command's own per-byte pause, the pause after either interface, the hide.
QStringList parallelSequence(Command command, const QByteArray& bytes) {
    const int perByte = command == Command::Drawer || command == Command::Authentication ? 1 : 0;
    QStringList log;
    for (const char b : bytes) {
        log << QStringLiteral("byte %1").arg(uint8_t(b), 2, 16, QChar(u'0'))
            << QStringLiteral("sleep 2");
        if (perByte)
            log << QStringLiteral("sleep %1").arg(perByte);
    }
    if (command == Command::PaperSensor)
        log << QStringLiteral("sleep 200");
    if (serialSequence(command).endsWith(QStringLiteral("|hide")))
        log << QStringLiteral("hide");
    return log;
}

const Command AllCommands[] = {
    Command::ResetFromMenu,
    Command::ResetFromButton,
    Command::DumpMode,
    Command::Drawer,
    Command::PrintMode,
    Command::RtsSignalling,
    Command::Authentication,
    Command::PageSize,
    Command::CharactersPerLine,
    Command::PaperSensor,
    Command::LineFeed,
    Command::Keyboard,
    Command::UserCharacterDownload,
    Command::BitmapPrint,
};

} // namespace

class CatalogueTest : public QObject {
    Q_OBJECT
private slots:
    void buildersGiveTheCataloguesBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("hex");
        QTest::newRow("status normal") << Commands::statusRequest(false) << "1b 76";
        QTest::newRow("status compatible") << Commands::statusRequest(true) << "1b 56";
        QTest::newRow("model") << Commands::modelRequest() << "1b 49 31";
        QTest::newRow("firmware") << Commands::firmwareRequest() << "1b 49 30";
        for (const CatalogueRow& row : catalogue())
            QTest::newRow(row.name) << row.bytes << QString::fromLatin1(row.hex);
        // A list index outside the dialog's list selects its last item.
        QTest::newRow("rts, no option") << Commands::rtsSignallingCommand(-1) << "1b 7e 01";
        QTest::newRow("authentication, index 3")
            << Commands::authenticationCommand(3, u"") << "1b 63 02 0a";
        QTest::newRow("print mode, index 3") << Commands::printModeCommand(3, 0) << "1b 45";
        QTest::newRow("keyboard, no option") << Commands::keyboardCommand(-1) << "1b 79 00";
    }
    void buildersGiveTheCataloguesBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, hex);
        QCOMPARE(QString::fromLatin1(bytes.toHex(' ')), hex);
    }

    void everyCommandTravelsBothInterfaces_data() {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("serial");
        for (const CatalogueRow& row : catalogue()) {
            QTest::addRow("%s, serial", row.name) << row.command << row.bytes << true;
            QTest::addRow("%s, parallel", row.name) << row.command << row.bytes << false;
        }
    }
    void everyCommandTravelsBothInterfaces() {
        QFETCH(Command, command);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, serial);
        FakeLink link;
        Messages::Recorder messages;
        if (serial)
            link.connectSerial();
        else
            link.connectParallel();

        const auto outcome = Commands::sendCommand(command, bytes, [&] { link.log << "hide"; });

        QCOMPARE(outcome, Commands::SendOutcome::Sent);
        const QStringList expected =
            serial ? serialSequence(command).arg(QString::fromLatin1(bytes.toHex(' '))).split('|')
                   : parallelSequence(command, bytes);
        QCOMPARE(link.log, expected);
        QVERIFY(messages.entries.isEmpty());
    }

    void serialWinsWhenBothInterfacesAreSet() {
        FakeLink link;
        link.connectSerial();
        link.connectParallel();
        Commands::sendCommand(Command::DumpMode, Commands::dumpModeCommand());
        QCOMPARE(link.log, QStringList{"write 1b 78"});
    }

    void withNoInterfaceNothingIsSentAndTheDialogStays() {
        for (const Command command : AllCommands) {
            FakeLink link;
            Messages::Recorder messages;
            bool hidden = false;
            const auto outcome =
                Commands::sendCommand(command, Commands::resetCommand(), [&] { hidden = true; });
            QCOMPARE(outcome, Commands::SendOutcome::NoInterface);
            QVERIFY(link.log.isEmpty());
            QVERIFY(!hidden);
            QCOMPARE(messages.entries.size(), 1);
            QCOMPARE(messages.entries[0].form, Messages::Form::Warning);
            QCOMPARE(messages.entries[0].text,
                     QStringLiteral("Selecione Uma interface de comunicação (Serial ou Paralela)"));
        }
    }

    void offLinePrinterRefusesOnlyTheReadyCommands_data() {
        QTest::addColumn<Command>("command");
        QTest::addColumn<bool>("refused");
        QTest::newRow("reset button") << Command::ResetFromButton << true;
        QTest::newRow("drawer") << Command::Drawer << true;
        QTest::newRow("reset menu") << Command::ResetFromMenu << false;
        QTest::newRow("dump mode") << Command::DumpMode << false;
        QTest::newRow("page size") << Command::PageSize << false;
        QTest::newRow("bitmap print") << Command::BitmapPrint << false;
    }
    void offLinePrinterRefusesOnlyTheReadyCommands() {
        QFETCH(Command, command);
        QFETCH(bool, refused);
        FakeLink link;
        Messages::Recorder messages;
        link.connectSerial(false);

        const auto outcome = Commands::sendCommand(command, Commands::resetCommand());

        if (refused) {
            QCOMPARE(outcome, Commands::SendOutcome::PrinterOffline);
            QVERIFY(link.log.isEmpty());
            QCOMPARE(messages.entries, (QList<Messages::Recorder::Entry>{
                                           {Messages::Form::Plain, QStringLiteral("Tellumo"),
                                            QStringLiteral("A Impressora está fora de linha")}}));
        } else {
            QCOMPARE(outcome, Commands::SendOutcome::Sent);
            QVERIFY(link.log.contains("write 1b 40"));
            QVERIFY(messages.entries.isEmpty());
        }
    }

    void ctsOverrideLeavesFlowControlOnAfterAWrite_data() {
        QTest::addColumn<Command>("command");
        QTest::newRow("reset button") << Command::ResetFromButton;
        QTest::newRow("rts signalling") << Command::RtsSignalling;
        QTest::newRow("page size") << Command::PageSize;
    }
    void ctsOverrideLeavesFlowControlOnAfterAWrite() {
        QFETCH(Command, command);
        FakeLink link;
        link.connectSerial();
        Commands::sendCommand(command, Commands::resetCommand());
        QVERIFY(link.serial.outCtsFlow);
    }

    void ctsOverrideLeavesFlowControlOffWhenTheWriteRaises_data() {
        ctsOverrideLeavesFlowControlOnAfterAWrite_data();
    }
    void ctsOverrideLeavesFlowControlOffWhenTheWriteRaises() {
        QFETCH(Command, command);
        FakeLink link;
        link.connectSerial();
        link.serial.outCtsFlow = true;
        link.serial.throwOnWrite = true;
        bool hidden = false;

        QVERIFY_THROWS_EXCEPTION(
            std::runtime_error,
            Commands::sendCommand(command, Commands::resetCommand(), [&] { hidden = true; }));

        QVERIFY(!link.serial.outCtsFlow);
        QVERIFY(!hidden);
        QCOMPARE(link.log, (QStringList{"cts flow off", "write 1b 40"}));
    }
};

QTEST_GUILESS_MAIN(CatalogueTest)
#include "tst_catalogue.moc"
