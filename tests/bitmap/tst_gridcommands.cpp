#include "bitmap/GridCommands.h"

#include <QTest>
#include <array>

namespace {
QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' '));
}

// "xx yy" repeated to fill 64 columns.
QString repeated(const QString& pattern, int times) {
    QStringList parts;
    for (int i = 0; i < times; ++i)
        parts << pattern;
    return parts.join(u' ');
}
} // namespace

class GridCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void userCharacterDownload_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("columns");
        QTest::addColumn<QString>("expected");
        const QByteArray empty(9, '\0');
        QTest::newRow("empty, first code") << 0 << empty << "1b 23 b0 00 00 00 00 00 00 00 00 00";
        QTest::newRow("last code") << 15 << empty << "1b 23 bf 00 00 00 00 00 00 00 00 00";
        QByteArray topLeft = empty;
        topLeft[0] = 0x01;
        QTest::newRow("top-left dot") << 0 << topLeft << "1b 23 b0 01 00 00 00 00 00 00 00 00";
        QByteArray bottomRight = empty;
        bottomRight[8] = char(0x80);
        QTest::newRow("bottom-right dot")
            << 7 << bottomRight << "1b 23 b7 00 00 00 00 00 00 00 00 80";
    }
    void userCharacterDownload() {
        QFETCH(int, index);
        QFETCH(QByteArray, columns);
        QFETCH(QString, expected);
        std::array<uint8_t, 9> grid{};
        std::copy(columns.begin(), columns.end(), grid.begin());
        const auto command = Bitmap::userCharacterDownloadCommand(index, grid);
        QVERIFY(command.has_value());
        QCOMPARE(hex(*command), expected);
    }

    void userCharacterNeedsAListedCharacter() {
        const std::array<uint8_t, 9> grid{};
        QVERIFY(!Bitmap::userCharacterDownloadCommand(-1, grid));
        QVERIFY(!Bitmap::userCharacterDownloadCommand(16, grid));
    }

    void bitmapPrint_data() {
        QTest::addColumn<QByteArray>("columns"); // the first columns; the rest are empty
        QTest::addColumn<bool>("fill");          // or the rest full instead
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("invert");
        QTest::addColumn<bool>("correct");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("data");
        const QString zeros = repeated("00", 64);
        QTest::newRow("empty, single")
            << QByteArray() << false << 0 << false << false << "1b 2a 00 40 00" << zeros;
        QTest::newRow("empty, double")
            << QByteArray() << false << 1 << false << false << "1b 2a 01 40 00" << zeros;
        QTest::newRow("inverted") << QByteArray() << false << 0 << true << false << "1b 2a 00 40 00"
                                  << repeated("ff", 64);
        QTest::newRow("corrected runs")
            << QByteArray("\x0f\xff\xf0\xff") << false << 0 << false << true << "1b 2a 00 40 00"
            << "0f f0 00 ff " + repeated("00", 60);
        QTest::newRow("corrected single dots")
            << QByteArray("\x03\x01\x01\x02") << false << 1 << false << true << "1b 2a 01 40 00"
            << "03 00 01 02 " + repeated("00", 60);
        QTest::newRow("corrected full grid") << QByteArray() << true << 0 << false << true
                                             << "1b 2a 00 40 00" << repeated("ff 00", 32);
        QTest::newRow("inverted before correction") << QByteArray() << false << 0 << true << true
                                                    << "1b 2a 00 40 00" << repeated("ff 00", 32);
        QTest::newRow("inverted then corrected, drawn dots")
            << QByteArray("\xff\x00\x0f", 3) << false << 0 << true << true << "1b 2a 00 40 00"
            << "00 ff 00 ff " + repeated("00 ff", 30);
    }
    void bitmapPrint() {
        QFETCH(QByteArray, columns);
        QFETCH(bool, fill);
        QFETCH(int, mode);
        QFETCH(bool, invert);
        QFETCH(bool, correct);
        QFETCH(QString, header);
        QFETCH(QString, data);
        std::array<uint8_t, 64> grid{};
        grid.fill(fill ? 0xFF : 0x00);
        std::copy(columns.begin(), columns.end(), grid.begin());
        const std::array<uint8_t, 64> before = grid;

        const QByteArray command = Bitmap::bitmapPrintCommand(grid, {mode, invert, correct});

        QCOMPARE(command.size(), 69);
        QCOMPARE(hex(command.first(5)), header);
        QCOMPARE(hex(command.sliced(5)), data);
        QVERIFY(grid == before);
    }

    void hexTextShowsTheBytesSent() {
        const std::array<uint8_t, 64> empty{};
        const QString plain = Bitmap::bitmapHexText(Bitmap::bitmapPrintCommand(empty, {}));
        QCOMPARE(plain.size(), 191);
        QCOMPARE(plain, repeated("00", 64));
        const QString inverted =
            Bitmap::bitmapHexText(Bitmap::bitmapPrintCommand(empty, {1, true, false}));
        QCOMPARE(inverted, repeated("FF", 64));
    }
};

QTEST_GUILESS_MAIN(GridCommandsTest)
#include "tst_gridcommands.moc"
