// The two dot-grid editors as the operator uses them: presses on the dots,
// the keyboard, the options, and "&Enviar" with the link's writes logged.
#include "bitmap/DotGridWidget.h"
#include "bitmap/DotGrids.h"
#include "bitmap/Form10.h"
#include "bitmap/Form13.h"
#include "commands/FakeLink.h"
#include "windowkit/Messages.h"
#include "windowkit/RadioGroupWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

using Entry = Messages::Recorder::Entry;

const QString NoInterface =
    QStringLiteral("Selecione Uma interface de comunicação (Serial ou Paralela)");

QByteArray grid(TDotGrid* dots) {
    return dots->ColumnCount() == UserCharColumnCount
               ? QByteArray(reinterpret_cast<const char*>(UserCharColumns), UserCharColumnCount)
               : QByteArray(reinterpret_cast<const char*>(BitmapColumns), BitmapColumnCount);
}

void press(TDotGrid* dots, int column, int row, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(dots, button, {}, dots->DotRect(column, row).center());
}

// The dot's fill as painted: true for black.
bool painted(TDotGrid* dots, int column, int row) {
    const QRect rect = dots->DotRect(column, row);
    const QImage image = dots->grab(rect).toImage();
    return qGray(image.pixel(rect.width() / 2, rect.height() / 2)) < 64;
}

// Presses the dots that differ from the wanted column bytes.
void draw(TDotGrid* dots, const QByteArray& columns) {
    const QByteArray now = grid(dots);
    const QByteArray wanted = columns.leftJustified(dots->ColumnCount(), '\0');
    for (int c = 0; c < dots->ColumnCount(); ++c)
        for (int r = 0; r < TDotGrid::Rows; ++r)
            if (((now[c] ^ wanted[c]) >> r) & 1)
                press(dots, c, r);
}

QStringList wire(const QString& link, const QByteArray& bytes) {
    if (link != QLatin1String("parallel"))
        return {QStringLiteral("write ") + QString::fromLatin1(bytes.toHex(' ')), "sleep 10"};
    QStringList log;
    for (const char b : bytes)
        log << QStringLiteral("byte %1").arg(uint8_t(b), 2, 16, QChar(u'0')) << "sleep 2";
    return log;
}

QByteArray fromHex(const char* hex) {
    return QByteArray::fromHex(hex);
}

} // namespace

class BitmapDialogsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TForm10> form10;
    std::unique_ptr<TForm13> form13;

    TDotGrid* dots(int form) { return form == 10 ? form10->Grid : form13->Grid; }

private slots:
    void init() {
        form10 = std::make_unique<TForm10>();
        form13 = std::make_unique<TForm13>();
        form10->showForm();
        form13->showForm();
    }
    void cleanup() {
        draw(form10->Grid, {});
        draw(form13->Grid, {});
        form13.reset();
        form10.reset();
    }

    void everyDotTogglesExactlyItsOwnBit_data() {
        QTest::addColumn<int>("form");
        QTest::newRow("character, 72 dots") << 10;
        QTest::newRow("bitmap, 512 dots") << 13;
    }
    void everyDotTogglesExactlyItsOwnBit() {
        QFETCH(int, form);
        TDotGrid* board = dots(form);
        const QByteArray empty = grid(board);
        QCOMPARE(empty, QByteArray(board->ColumnCount(), '\0'));
        // From the keyboard, the ring starting on the top-left dot: Space on
        // each dot along a snake through the grid with the arrows, then back
        // again; every byte is full half-way. The ring stops at the edges.
        const int last = board->ColumnCount() - 1;
        for (const bool back : {false, true}) {
            for (int r = 0; r < TDotGrid::Rows; ++r) {
                for (int i = 0; i <= last; ++i) {
                    const QPoint at = board->FocusDot();
                    const QByteArray before = grid(board);
                    QTest::keyClick(board, Qt::Key_Space);
                    QByteArray after = before;
                    after[at.x()] = char(after[at.x()] ^ (1 << at.y()));
                    QCOMPARE(grid(board), after);
                    QCOMPARE(painted(board, at.x(), at.y()), !back);
                    if (i < last)
                        QTest::keyClick(board, r % 2 == 0 ? Qt::Key_Right : Qt::Key_Left);
                }
                QTest::keyClick(board, back ? Qt::Key_Up : Qt::Key_Down);
            }
            if (!back)
                QCOMPARE(grid(board), QByteArray(board->ColumnCount(), '\xff'));
        }
        QCOMPARE(grid(board), empty);

        // Any button: a press changes the dot's own bit and fill, a second
        // press restores both.
        const Qt::MouseButton buttons[] = {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton};
        int n = 0;
        for (int c = 0; c < board->ColumnCount(); ++c)
            for (int r = 0; r < TDotGrid::Rows; ++r, ++n) {
                QByteArray drawn = empty;
                drawn[c] = char(1 << r);
                press(board, c, r, buttons[n % 3]);
                QCOMPARE(grid(board), drawn);
                QVERIFY(painted(board, c, r));
                press(board, c, r, buttons[(n + 1) % 3]);
                QCOMPARE(grid(board), empty);
                QVERIFY(!painted(board, c, r));
            }
    }

    void hidingReopeningAndSendingChangeNoDot() {
        FakeLink link;
        link.connectSerial();
        const QByteArray character = fromHex("0102040810204080ff");
        const QByteArray strip = fromHex("0fff00f0815a");
        draw(form10->Grid, character);
        draw(form13->Grid, strip);
        form13->CheckBox1->setChecked(true);
        form13->CheckBox2->setChecked(true);

        form10->BitBtn1->click();
        form13->BitBtn1->click();
        QVERIFY(form10->isHidden() && form13->isHidden());
        form10->showForm();
        form13->showForm();
        form13->BitBtn2->click();
        form10->BitBtn2->click();

        QCOMPARE(link.log.size(), 4);
        QCOMPARE(grid(form10->Grid), character);
        QCOMPARE(grid(form13->Grid), strip.leftJustified(BitmapColumnCount, '\0'));
        QVERIFY(painted(form10->Grid, 7, 7) && !painted(form10->Grid, 7, 6));
        QVERIFY(painted(form13->Grid, 5, 1) && !painted(form13->Grid, 5, 0));
    }

    void enviarPutsTheCommandOnTheWire_data() {
        QTest::addColumn<int>("form");
        QTest::addColumn<QByteArray>("columns");
        QTest::addColumn<int>("choice"); // the list entry, or the "Modo" item
        QTest::addColumn<bool>("invert");
        QTest::addColumn<bool>("correct");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QByteArray>("sent");
        const QByteArray none(9, '\0');
        QTest::newRow("empty character, Caracter 1")
            << 10 << none << 0 << false << false << "serial" << fromHex("1b23b0") + none;
        QTest::newRow("Caracter 16, parallel")
            << 10 << none << 15 << false << false << "parallel" << fromHex("1b23bf") + none;
        QTest::newRow("top-left dot") << 10 << fromHex("01") << 2 << false << false << "parallel"
                                      << fromHex("1b23b201") + QByteArray(8, '\0');
        QTest::newRow("bottom-right dot, both interfaces set: serial")
            << 10 << fromHex("000000000000000080") << 7 << false << false << "both"
            << fromHex("1b23b7000000000000000080");

        const QByteArray zeros(64, '\0');
        const QByteArray full(64, '\xff');
        QByteArray alternate;
        for (int i = 0; i < 32; ++i)
            alternate += fromHex("ff00");
        QTest::newRow("empty strip, Simples") << 13 << QByteArray() << 0 << false << false
                                              << "serial" << fromHex("1b2a004000") + zeros;
        QTest::newRow("Dupla, parallel") << 13 << fromHex("81") << 1 << false << false << "parallel"
                                         << fromHex("1b2a01400081") + zeros.left(63);
        QTest::newRow("inverted empty strip") << 13 << QByteArray() << 0 << true << false
                                              << "parallel" << fromHex("1b2a004000") + full;
        QTest::newRow("runs thinned") << 13 << fromHex("0ffff0ff") << 0 << false << true << "serial"
                                      << fromHex("1b2a0040000ff000ff") + zeros.left(60);
        QTest::newRow("inverted before thinning") << 13 << QByteArray() << 0 << true << true
                                                  << "both" << fromHex("1b2a004000") + alternate;
    }
    void enviarPutsTheCommandOnTheWire() {
        QFETCH(int, form);
        QFETCH(QByteArray, columns);
        QFETCH(int, choice);
        QFETCH(bool, invert);
        QFETCH(bool, correct);
        QFETCH(QString, link);
        QFETCH(QByteArray, sent);
        FakeLink fake;
        Messages::Recorder messages;
        if (link != QLatin1String("parallel"))
            fake.connectSerial();
        if (link != QLatin1String("serial"))
            fake.connectParallel();
        draw(dots(form), columns);
        const QByteArray before = grid(dots(form));

        if (form == 10) {
            form10->ComboBox1->setCurrentIndex(choice);
            form10->BitBtn2->click();
        } else {
            form13->RadioGroup1->SetItemIndex(choice);
            form13->CheckBox1->setChecked(invert);
            form13->CheckBox2->setChecked(correct);
            form13->BitBtn2->click();
        }

        QCOMPARE(fake.log, wire(link, sent));
        QVERIFY(messages.entries.isEmpty());
        QCOMPARE(grid(dots(form)), before);
        // The character editor hides after a download; the bitmap editor stays.
        QCOMPARE(form10->isVisible(), form != 10);
        QVERIFY(form13->isVisible());
    }

    void theHexDisplayComesBeforeTheLinkCheck_data() {
        QTest::addColumn<bool>("invert");
        QTest::addColumn<bool>("connected");
        QTest::newRow("no interface") << false << false;
        QTest::newRow("inverted, no interface") << true << false;
        QTest::newRow("inverted, serial") << true << true;
    }
    void theHexDisplayComesBeforeTheLinkCheck() {
        QFETCH(bool, invert);
        QFETCH(bool, connected);
        FakeLink fake;
        Messages::Recorder messages;
        if (connected)
            fake.connectSerial();
        form13->CheckBox1->setChecked(invert);
        form13->CheckBox3->setChecked(true);

        form13->BitBtn2->click();

        QStringList pairs;
        for (int i = 0; i < 64; ++i)
            pairs << (invert ? "FF" : "00");
        QList<Entry> expected{{Messages::Form::Plain, "Tellumo", pairs.join(u' ')}};
        QCOMPARE(expected[0].text.size(), 191);
        if (!connected)
            expected.append({Messages::Form::Warning, QStringLiteral("ATENÇÃO"), NoInterface});
        QCOMPARE(messages.entries, expected);
        QCOMPARE(fake.log.size(), connected ? 2 : 0);
    }

    void aTypedCharacterNameMustBeOneOfTheList_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("enter");      // Enter pressed in the box before "Enviar"
        QTest::addColumn<QByteArray>("sent"); // empty: refused
        const QByteArray none(9, '\0');
        QTest::newRow("number past the list") << "Caracter 17" << false << QByteArray();
        QTest::newRow("other text, Enter") << "logo" << true << QByteArray();
        QTest::newRow("nothing") << "" << false << QByteArray();
        QTest::newRow("a listed name") << "Caracter 5" << true << fromHex("1b23b4") + none;
        QTest::newRow("a listed name in lower case")
            << "caracter 3" << false << fromHex("1b23b2") + none;
    }
    void aTypedCharacterNameMustBeOneOfTheList() {
        QFETCH(QString, typed);
        QFETCH(bool, enter);
        QFETCH(QByteArray, sent);
        FakeLink fake;
        fake.connectSerial();
        Messages::Recorder messages;
        form10->ComboBox1->lineEdit()->clear();
        QTest::keyClicks(form10->ComboBox1->lineEdit(), typed);
        if (enter)
            QTest::keyClick(form10->ComboBox1->lineEdit(), Qt::Key_Return);

        form10->BitBtn2->click();

        if (sent.isEmpty()) {
            QCOMPARE(messages.entries,
                     (QList<Entry>{{Messages::Form::Plain, "Tellumo",
                                    "Escolha na lista um dos 16 caracteres (Caracter 1 a "
                                    "Caracter 16)"}}));
            QVERIFY(fake.log.isEmpty());
            QVERIFY(form10->isVisible());
        } else {
            QVERIFY(messages.entries.isEmpty());
            QCOMPARE(fake.log, wire("serial", sent));
        }
        QCOMPARE(form10->ComboBox1->count(), 16);
    }
};

QTEST_MAIN(BitmapDialogsTest)
#include "tst_bitmapdialogs.moc"
