// The paper as drawn: every dot of a user character and of a bit image is a
// block of the head's one square pitch, in the window and at twice its zoom.
#include "sim/PaperRenderer.h"
#include "sim/VirtualPrinter.h"

#include <QTest>

namespace {

using namespace PaperRenderer;

QByteArray esc(std::initializer_list<int> bytes) {
    QByteArray out(1, '\x1b');
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

QImage printed(const QByteArray& bytes, qreal zoom) {
    VirtualPrinter printer;
    printer.receive(bytes);
    printer.advance(600000);
    return render(printer.paper().lines(), zoom);
}

bool inked(const QImage& image, qreal x, qreal y) {
    return qGray(image.pixel(static_cast<int>(x), static_cast<int>(y))) < 128;
}

// Inked pixels in a row from (x, y) along (dx, dy).
int run(const QImage& image, int x, int y, int dx, int dy) {
    int n = 0;
    while (inked(image, x + n * dx, y + n * dy))
        ++n;
    return n;
}

} // namespace

class TestPaperRenderer : public QObject {
    Q_OBJECT
private slots:
    void userCharacterDotsAreBlocksOfTheHeadsPitch_data() {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<qreal>("cellDots");   // where the character's cell starts
        QTest::addColumn<qreal>("columnDots"); // from one glyph column to the next
        QTest::addColumn<qreal>("strikeDots"); // the width of one dot's ink
        QTest::addColumn<qreal>("zoom");
        for (const qreal zoom : {1.0, 2.0}) {
            QTest::addRow("normal, zoom %g", zoom) << esc({'M'}) << 9.0 << 1.0 << 1.0 << zoom;
            QTest::addRow("expanded, zoom %g", zoom)
                << esc({'W', '0'}) << 18.0 << 2.0 << 2.0 << zoom;
            QTest::addRow("emphasized, zoom %g", zoom) << esc({'E'}) << 9.0 << 1.0 << 1.5 << zoom;
            QTest::addRow("expanded bold, zoom %g", zoom)
                << esc({'W', '1'}) << 18.0 << 2.0 << 2.5 << zoom;
        }
    }
    void userCharacterDotsAreBlocksOfTheHeadsPitch() {
        QFETCH(QByteArray, mode);
        QFETCH(qreal, cellDots);
        QFETCH(qreal, columnDots);
        QFETCH(qreal, strikeDots);
        QFETCH(qreal, zoom);
        // The top-left and the bottom-right dot, printed after a blank.
        const QByteArray download = esc({'#', 0xB5, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x80});
        const QImage image = printed(download + mode + " \xB5\n", zoom);

        const qreal px = dotSize(zoom);
        QCOMPARE(px, 2 * zoom);
        for (const QPoint dot : {QPoint(0, 0), QPoint(8, 7)}) {
            const qreal left = (MarginDots + cellDots + dot.x() * columnDots) * px;
            const qreal top = (MarginDots + BaselineDots - 8 + dot.y()) * px;
            const qreal right = left + strikeDots * px;
            const qreal bottom = top + px;
            QVERIFY2(inked(image, left, top) && inked(image, right - 1, bottom - 1),
                     qPrintable(QStringLiteral("dot %1,%2").arg(dot.x()).arg(dot.y())));
            QVERIFY(!inked(image, left - 1, top) && !inked(image, right, top));
            QVERIFY(!inked(image, left, top - 1) && !inked(image, left, bottom));
        }
    }

    void bitImageColumnsAreEightDotsHigh_data() {
        QTest::addColumn<int>("density");
        QTest::addColumn<int>("widthDots"); // of one data column
        QTest::addColumn<qreal>("zoom");
        for (const qreal zoom : {1.0, 2.0}) {
            QTest::addRow("single density, zoom %g", zoom) << 0 << 2 << zoom;
            QTest::addRow("double density, zoom %g", zoom) << 1 << 1 << zoom;
        }
    }
    void bitImageColumnsAreEightDotsHigh() {
        QFETCH(int, density);
        QFETCH(int, widthDots);
        QFETCH(qreal, zoom);
        const QImage image = printed(esc({'*', density, 3, 0, 0xFF, 0x00, 0x01}), zoom);

        const int px = static_cast<int>(dotSize(zoom));
        const int x0 = MarginDots * px;
        const int y0 = MarginDots * px;
        QCOMPARE(image.height(), (2 * MarginDots + ImageLineDots) * px);
        QCOMPARE(run(image, x0, y0, 0, 1), ImageLineDots * px);
        QVERIFY(!inked(image, x0, y0 - 1));
        QCOMPARE(run(image, x0, y0 + 7 * px, 1, 0), widthDots * px);
        QVERIFY(!inked(image, x0 - 1, y0));
        // The third column: its top dot only.
        QCOMPARE(run(image, x0 + 2 * widthDots * px, y0, 0, 1), px);
        QCOMPARE(run(image, x0 + 2 * widthDots * px, y0, 1, 0), widthDots * px);
    }

    // A full roll at 2x would be gigabytes: the picture keeps as many of
    // the newest lines as fit.
    void aLongRollStaysWithinTheHeightLimit() {
        const QImage image = render(QList<PaperLine>(PaperRoll::MaxLines), 2.0);
        QVERIFY(!image.isNull());
        QVERIFY(image.height() <= MaxImageHeight);
        QVERIFY(image.height() > MaxImageHeight - 2 * TextLineDots * dotSize(2.0));
    }
};

QTEST_MAIN(TestPaperRenderer)
#include "tst_paperrenderer.moc"
