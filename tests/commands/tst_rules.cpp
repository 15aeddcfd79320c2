#include "protocol/CommandBuilders.h"
#include "protocol/ParameterRules.h"
#include "protocol/Replies.h"
#include "protocol/Windows1252.h"

#include <QTest>
#include <climits>
#include <optional>

class RulesTest : public QObject {
    Q_OBJECT
private slots:
    void decimalConversion_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("digits") << "39" << 39;
        QTest::newRow("leading zero") << "05" << 5;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("letters") << "ab" << 0;
        QTest::newRow("negative") << "-5" << -5;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("sign alone") << "-" << 0;
        QTest::newRow("blanks then digits") << " \t12" << 12;
        QTest::newRow("stops at non-digit") << "4x9" << 4;
        QTest::newRow("blank after sign stops") << "- 5" << 0;
        QTest::newRow("non-ASCII digit stops") << QString::fromUtf8("٣") << 0;
        QTest::newRow("largest") << "2147483647" << INT_MAX;
        QTest::newRow("smallest") << "-2147483648" << INT_MIN;
        QTest::newRow("past largest saturates") << "2147483648" << INT_MAX;
        QTest::newRow("past smallest saturates") << "-2147483649" << INT_MIN;
        QTest::newRow("very long saturates") << QString(400, u'9') << INT_MAX;
    }
    void decimalConversion() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(Commands::decimalToInt(text), value);
    }

    void pageSizeEntry_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hex");
        QTest::newRow("1") << "1"
                           << "1b 64 01";
        QTest::newRow("39") << "39"
                            << "1b 64 27";
        QTest::newRow("40") << "40"
                            << "1b 64 1e";
        QTest::newRow("0") << "0"
                           << "1b 64 1e";
        QTest::newRow("empty") << ""
                               << "1b 64 1e";
        QTest::newRow("ab") << "ab"
                            << "1b 64 1e";
        QTest::newRow("-5") << "-5"
                            << "1b 64 1e";
        QTest::newRow("99") << "99"
                            << "1b 64 1e";
    }
    void pageSizeEntry() {
        QFETCH(QString, text);
        QFETCH(QString, hex);
        const QByteArray bytes = Commands::pageSizeCommand(Commands::decimalToInt(text));
        QCOMPARE(QString::fromLatin1(bytes.toHex(' ')), hex);
    }

    void lineFeedEntry_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("compatible");
        QTest::addColumn<QString>("hex");
        QTest::newRow("05 normal") << "05" << false << "1b 61 05";
        QTest::newRow("05 compatible") << "05" << true << "1b 66 01 05";
        QTest::newRow("00") << "00" << false << "1b 61 00";
        QTest::newRow("99") << "99" << false << "1b 61 63";
        QTest::newRow("12 compatible") << "12" << true << "1b 66 01 0c";
        QTest::newRow("-1") << "-1" << false << "1b 61 ff";
        QTest::newRow("256 wraps") << "256" << false << "1b 61 00";
        QTest::newRow("saturated") << "99999999999" << false << "1b 61 ff";
    }
    void lineFeedEntry() {
        QFETCH(QString, text);
        QFETCH(bool, compatible);
        QFETCH(QString, hex);
        const QByteArray bytes =
            Commands::lineFeedCommand(Commands::decimalToInt(text), compatible);
        QCOMPARE(QString::fromLatin1(bytes.toHex(' ')), hex);
    }

    void authentication_data() {
        QTest::addColumn<int>("device");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hex");
        QTest::newRow("empty, document") << 2 << ""
                                         << "1b 63 02 0a";
        QTest::newRow("initial text, title")
            << 0 << QStringLiteral("¢¥+ Pago 01/01/2001")
            << "1b 63 00 a2 a5 2b 20 50 61 67 6f 20 30 31 2f 30 31 2f 32 30 30 31 0a";
        QTest::newRow("accents") << 1 << QStringLiteral("ção") << "1b 63 01 e7 e3 6f 0a";
        QTest::newRow("euro and dash") << 0 << QStringLiteral("€–") << "1b 63 00 80 96 0a";
        QTest::newRow("unmappable") << 0 << QStringLiteral("ĀЖ") << "1b 63 00 3f 3f 0a";
        QTest::newRow("surrogate pair is one character") << 0
                                                         << QString::fromUtf8("a\xF0\x9F\x98\x80"
                                                                              "b")
                                                         << "1b 63 00 61 3f 62 0a";
        QTest::newRow("text bytes pass unescaped")
            << 0 << QStringLiteral("\x1b@\n") << "1b 63 00 1b 40 0a 0a";
    }
    void authentication() {
        QFETCH(int, device);
        QFETCH(QString, text);
        QFETCH(QString, hex);
        QCOMPARE(QString::fromLatin1(Commands::authenticationCommand(device, text).toHex(' ')),
                 hex);
    }

    void authenticationTextIsAtMostFortyBytes() {
        const QString forty(40, u'x');
        QCOMPARE(Commands::authenticationCommand(0, forty).size(), 44);
        const QByteArray longer = Commands::authenticationCommand(0, forty + u'y');
        QCOMPARE(longer.size(), 44);
        QCOMPARE(longer.back(), '\n');
    }

    void codePageRoundTripsEveryByte() {
        QByteArray all(256, '\0');
        for (int i = 0; i < 256; ++i)
            all[i] = char(i);
        const QString text = Windows1252::decode(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(Windows1252::encode(text), all);
        QCOMPARE(text[0x80], QChar(0x20AC));
        QCOMPARE(text[0xA2], QChar(u'¢'));
    }

    void statusReply_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("text");
        const QByteArray full = QByteArray("\x07"
                                           "ABCDEFGH",
                                           9) +
                                '\0';
        QTest::newRow("9 bytes") << full << 9 << true << QByteArray("ABCDEFGH");
        QTest::newRow("8 bytes") << full << 8 << false << QByteArray();
        QTest::newRow("10 bytes") << full << 10 << false << QByteArray();
        QTest::newRow("none") << full << 0 << false << QByteArray();
        QTest::newRow("failed read") << full << -1 << false << QByteArray();
        QTest::newRow("zero at 1")
            << QByteArray("\x07\0CDEFGHI\0", 10) << 9 << true << QByteArray();
        QTest::newRow("zero at 4") << QByteArray("\x07"
                                                 "ABC\0EFGH\0",
                                                 10)
                                   << 9 << true << QByteArray("ABC");
        QTest::newRow("byte 0 zero is not the end")
            << QByteArray("\0ABCDEFGH\0", 10) << 9 << true << QByteArray("ABCDEFGH");
        QTest::newRow("byte past the reply is not shown") << QByteArray("\x07"
                                                                        "ABCDEFGHZ",
                                                                        10)
                                                          << 9 << true << QByteArray("ABCDEFGH");
        QTest::newRow("buffer shorter than count") << QByteArray("\x07"
                                                                 "AB")
                                                   << 9 << false << QByteArray();
    }
    void statusReply() {
        QFETCH(QByteArray, reply);
        QFETCH(int, count);
        QFETCH(bool, ok);
        QFETCH(QByteArray, text);
        const std::optional<QByteArray> decoded = Commands::decodeStatusReply(reply, count);
        QCOMPARE(decoded.has_value(), ok);
        if (ok)
            QCOMPARE(*decoded, text);
    }

    void identificationReply_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("text");
        const QByteArray model = QByteArray("\x01"
                                            "Korvex BM  40/48") +
                                 '\0';
        QTest::newRow("17 bytes") << model << 17 << true << QByteArray("Korvex BM  40/48");
        QTest::newRow("16 bytes") << model << 16 << false << QByteArray();
        QTest::newRow("18 bytes") << model << 18 << false << QByteArray();
        QByteArray cut = model;
        cut[5] = '\0';
        QTest::newRow("zero at 5") << cut << 17 << true << QByteArray("Korv");
        QByteArray empty = model;
        empty[1] = '\0';
        QTest::newRow("zero at 1") << empty << 17 << true << QByteArray();
    }
    void identificationReply() {
        QFETCH(QByteArray, reply);
        QFETCH(int, count);
        QFETCH(bool, ok);
        QFETCH(QByteArray, text);
        const std::optional<QByteArray> decoded = Commands::decodeIdentificationReply(reply, count);
        QCOMPARE(decoded.has_value(), ok);
        if (ok)
            QCOMPARE(*decoded, text);
    }
};

QTEST_GUILESS_MAIN(RulesTest)
#include "tst_rules.moc"
