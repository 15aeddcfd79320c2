// The paper as drawn: every dot of a user character and of a bit image is a
// block of the head's one square pitch, at the printer's own dot pitch, in the
// window and at twice its zoom; at the dot pitch every character of the code
// page has a glyph of its own, and the same bytes give the same pixels.
#include "protocol/Windows1252.h"
#include "sim/paper/DotFont.h"
#include "sim/paper/PaperDots.h"
#include "sim/paper/PaperRenderer.h"
#include "sim/printer/VirtualPrinter.h"

#include <QCryptographicHash>
#include <QTest>

namespace {

using namespace PaperRenderer;

QByteArray esc(std::initializer_list<int> bytes) {
    QByteArray out(1, '\x1b');
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

// One pixel a dot is the printer's own dots; more, the window's drawing.
QImage printed(const QByteArray& bytes, int pixelsPerDot) {
    VirtualPrinter printer;
    printer.receive(bytes);
    printer.advance(600000);
    const QList<PaperLine>& lines = printer.paper().lines();
    return pixelsPerDot == 1 ? PaperDots::render(lines)
                             : render(lines, qreal(pixelsPerDot) / PixelsPerDot);
}

// Every code, in each print mode, at a width (ESC P 0, 1, 2: 40, 48, 60 columns).
QByteArray codePage(char width) {
    QByteArray all;
    for (int code = 0x20; code <= 0xFF; ++code)
        if (code != 0x7F)
            all += char(code);
    all += '\n';
    return esc({'P', width}) + all + esc({'E'}) + all + esc({'W', '0'}) + all + esc({'W', '1'}) +
           all + esc({'M'});
}

QByteArray pixelHash(const QImage& image) {
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(QByteArray::number(image.width()) + 'x' + QByteArray::number(image.height()));
    for (int y = 0; y < image.height(); ++y)
        hash.addData(
            QByteArrayView(image.constScanLine(y), (image.width() * image.depth() + 7) / 8));
    return hash.result().toHex();
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
        QTest::addColumn<int>("pixelsPerDot");
        for (const int px : {1, 2, 4}) {
            // The window strikes half a dot further; the head a whole dot.
            const qreal again = px == 1 ? 1.0 : 0.5;
            QTest::addRow("normal, %d px", px) << esc({'M'}) << 9.0 << 1.0 << 1.0 << px;
            QTest::addRow("expanded, %d px", px) << esc({'W', '0'}) << 18.0 << 2.0 << 2.0 << px;
            QTest::addRow("emphasized, %d px", px) << esc({'E'}) << 9.0 << 1.0 << 1 + again << px;
            QTest::addRow("expanded bold, %d px", px)
                << esc({'W', '1'}) << 18.0 << 2.0 << 2 + again << px;
        }
    }
    void userCharacterDotsAreBlocksOfTheHeadsPitch() {
        QFETCH(QByteArray, mode);
        QFETCH(qreal, cellDots);
        QFETCH(qreal, columnDots);
        QFETCH(qreal, strikeDots);
        QFETCH(int, pixelsPerDot);
        // The top-left and the bottom-right dot, printed after a blank.
        const QByteArray download = esc({'#', 0xB5, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x80});
        const QImage image = printed(download + mode + " \xB5\n", pixelsPerDot);

        const qreal px = pixelsPerDot;
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
        QTest::addColumn<int>("pixelsPerDot");
        for (const int px : {1, 2, 4}) {
            QTest::addRow("single density, %d px", px) << 0 << 2 << px;
            QTest::addRow("double density, %d px", px) << 1 << 1 << px;
        }
    }
    void bitImageColumnsAreEightDotsHigh() {
        QFETCH(int, density);
        QFETCH(int, widthDots);
        QFETCH(int, pixelsPerDot);
        const QImage image = printed(esc({'*', density, 3, 0, 0xFF, 0x00, 0x01}), pixelsPerDot);

        const int px = pixelsPerDot;
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

    // Each printable code has ink of its own; the codes the code page leaves
    // unassigned, and whatever is not in it, draw the replacement mark.
    void everyCodeHasAGlyph_data() {
        QTest::addColumn<int>("font");
        QTest::newRow("regular") << 0;
        QTest::newRow("condensed") << 1;
        QTest::newRow("note") << 2;
    }
    void everyCodeHasAGlyph() {
        QFETCH(int, font);
        const DotFont& f =
            std::array{&DotFont::regular, &DotFont::condensed, &DotFont::note}[font]();
        const auto glyph = [&f](QChar ch) {
            return QList<uint16_t>(f.glyph(ch).begin(), f.glyph(ch).end());
        };
        const QList<uint16_t> mark = glyph(QChar::ReplacementCharacter);
        QCOMPARE(glyph(QChar(0x4E00)), mark);
        for (int code = 0x21; code <= 0xFF; ++code) {
            const QChar ch = Windows1252::decodeByte(uint8_t(code));
            const QList<uint16_t> dots = glyph(ch);
            const bool inked = std::any_of(dots.begin(), dots.end(), [](uint16_t c) { return c; });
            const QString what = QStringLiteral("0x%1").arg(code, 2, 16);
            if (ch.isPrint())
                QVERIFY2((inked || ch.isSpace()) && dots != mark, qPrintable(what));
            else if (ch.category() == QChar::Other_Control)
                QVERIFY2(dots == mark, qPrintable(what));
        }
    }

    // Pixels a golden picture can be compared with on any machine: a change
    // to the glyphs, the layout or the modes shows here first.
    void theSameBytesGiveTheSameDots_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("md5");
        QTest::newRow("the code page in every mode, 40 columns")
            << codePage('0') << QByteArray("255751c9284df675ba624ad8f4f4b25a");
        QTest::newRow("the code page in every mode, 48 columns")
            << codePage('1') << QByteArray("e64690d7023049c7e9218c37ad7eca1b");
        QTest::newRow("the code page in every mode, 60 columns")
            << codePage('2') << QByteArray("d5cef5288b2be6cea40abe02e17787d4");
        const QByteArray user =
            esc({'#', 0xB0, 0x3C, 0x42, 0x99, 0xA5, 0xA5, 0xA5, 0x99, 0x42, 0x3C});
        const QByteArray modes = "\xB0" + esc({'E'}) + "\xB0" + esc({'W', '0'}) + "\xB0" +
                                 esc({'W', '1'}) + "\xB0" + esc({'M'}) + "\n";
        QTest::newRow("user characters, bit images, authentication, marks")
            << esc({'@'}) + user + modes + esc({'P', '2'}) + modes + esc({'P', '1'}) +
                   esc({'*', 0, 3, 0, 0xFF, 0x81, 0x18}) + esc({'*', 1, 2, 0, 0xAA, 0x55}) +
                   esc({'c', 2}) + "Pago\n" + esc({'p', 0, 10, 10})
            << QByteArray("f8439d88a64a5f65cd76e5299f5dfdfd");
    }
    void theSameBytesGiveTheSameDots() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, md5);
        const QImage image = printed(bytes, 1);
        QCOMPARE(image.format(), QImage::Format_Mono);
        QCOMPARE(image.width(), PaperRoll::HeadDots + 2 * MarginDots);
        QCOMPARE(pixelHash(image), md5);
    }
};

QTEST_MAIN(TestPaperRenderer)
#include "tst_paperrenderer.moc"
