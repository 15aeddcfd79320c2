// Draws the program's pictures (banner, lower picture, About picture, window
// icon, button pictures) as PNG files at build time, so the repository holds
// their source rather than binary images.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <functional>

namespace {

const QColor Ink(0x1f, 0x2a, 0x44);
const QColor Deep(0x16, 0x3d, 0x73);
const QColor Sea(0x1f, 0x7a, 0x8c);
const QColor Paper(0xfb, 0xfa, 0xf5);
const QColor Amber(0xf2, 0xa5, 0x41);
const QColor Green(0x3c, 0x9d, 0x4e);
const QColor Red(0xc8, 0x3e, 0x3e);

QFont font(int pixels, bool bold, bool italic = false) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

// A receipt printer seen from the front, its paper coming out of the top,
// fitted into rect.
void drawPrinter(QPainter& p, const QRectF& r, bool lines = true) {
    const qreal w = r.width(), h = r.height();
    const QRectF paper(r.left() + w * 0.22, r.top(), w * 0.56, h * 0.5);
    p.setPen(QPen(Ink, std::max<qreal>(1, w / 48)));
    p.setBrush(Paper);
    p.drawRect(paper);
    if (lines) {
        p.setPen(QPen(QColor(0x8a, 0x93, 0xa6), std::max<qreal>(1, w / 40)));
        for (int i = 1; i <= 3; ++i) {
            const qreal y = paper.top() + paper.height() * i / 4.5;
            p.drawLine(QPointF(paper.left() + w * 0.06, y),
                       QPointF(paper.right() - w * (i == 3 ? 0.2 : 0.06), y));
        }
    }
    const QRectF body(r.left(), r.top() + h * 0.4, w, h * 0.6);
    QLinearGradient g(body.topLeft(), body.bottomLeft());
    g.setColorAt(0, QColor(0x5b, 0x67, 0x7d));
    g.setColorAt(1, QColor(0x2c, 0x34, 0x45));
    p.setPen(QPen(Ink, std::max<qreal>(1, w / 48)));
    p.setBrush(g);
    p.drawRoundedRect(body, w * 0.1, w * 0.1);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x12, 0x16, 0x20));
    p.drawRect(QRectF(r.left() + w * 0.18, body.top() + h * 0.06, w * 0.64, h * 0.05));
    p.setBrush(Green);
    p.drawEllipse(QPointF(r.left() + w * 0.8, body.bottom() - h * 0.16), w * 0.05, w * 0.05);
}

QImage canvas(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage banner() {
    QImage image = canvas(577, 113);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 577, 113);
    g.setColorAt(0, Deep);
    g.setColorAt(1, Sea);
    p.fillRect(image.rect(), g);
    // A strip of receipt paper running across the banner.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 28));
    p.drawRect(QRectF(0, 84, 577, 14));
    drawPrinter(p, QRectF(22, 12, 86, 90));
    p.setPen(Qt::white);
    p.setFont(font(46, true));
    p.drawText(QRectF(132, 8, 430, 56), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Tellumo"));
    p.setPen(QColor(0xdd, 0xec, 0xf5));
    p.setFont(font(16, false));
    p.drawText(QRectF(134, 62, 430, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Demonstração e teste da impressora Korvexa Dual"));
    p.setPen(Amber);
    p.setFont(font(12, true));
    p.drawText(QRectF(134, 84, 430, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("SERIAL  •  PARALELA  •  40/48 COLUNAS"));
    return image;
}

// The lower picture: a torn-off receipt lying across the frame.
QImage receipt() {
    QImage image = canvas(377, 89);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tape;
    tape.moveTo(10, 14);
    for (int x = 10; x <= 366; x += 8)
        tape.lineTo(x + 4, x % 16 ? 10 : 14);
    tape.lineTo(366, 78);
    for (int x = 366; x >= 10; x -= 8)
        tape.lineTo(x - 4, x % 16 ? 82 : 78);
    tape.closeSubpath();
    p.setPen(QPen(QColor(0x9a, 0xa0, 0xab), 1));
    p.setBrush(Paper);
    p.drawPath(tape);
    p.setPen(Ink);
    p.setFont(font(15, true));
    p.drawText(QRectF(24, 20, 330, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("KORVEXA DUAL"));
    p.setFont(QFont(QStringLiteral("Liberation Mono"), -1));
    QFont mono(QStringLiteral("Liberation Mono"));
    mono.setPixelSize(12);
    p.setFont(mono);
    p.drawText(QRectF(24, 42, 330, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Versão 3.3 ........... Dezembro/2005"));
    p.drawText(QRectF(24, 58, 330, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Clique para ver o histórico"));
    p.setPen(QPen(Sea, 2));
    for (int i = 0; i < 12; ++i)
        p.drawLine(QPointF(300 + i * 4, 26), QPointF(300 + i * 4, 26 + (i % 3 == 0 ? 14 : 10)));
    return image;
}

QImage aboutPicture() {
    QImage image = canvas(153, 41);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawPrinter(p, QRectF(3, 2, 36, 37), false);
    p.setPen(Deep);
    p.setFont(font(22, true));
    p.drawText(QRectF(46, 0, 107, 28), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KORVEXA"));
    p.setPen(Sea);
    p.setFont(font(11, true));
    p.drawText(QRectF(47, 26, 107, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("DUAL"));
    return image;
}

QImage icon() {
    QImage image = canvas(64, 64);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawPrinter(p, QRectF(4, 4, 56, 56));
    return image;
}

using Drawing = std::function<void(QPainter&)>;

// A 32 x 32 button picture.
QImage glyph(const Drawing& draw) {
    QImage image = canvas(32, 32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return image;
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
    p.setPen(QPen(colour, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QLineF line(to, from);
    QLineF a = line;
    a.setLength(8);
    a.setAngle(line.angle() + 35);
    QLineF b = line;
    b.setLength(8);
    b.setAngle(line.angle() - 35);
    p.drawLine(a);
    p.drawLine(b);
}

QImage sendGlyph() {
    return glyph([](QPainter& p) {
        drawPrinter(p, QRectF(13, 5, 18, 24), false);
        arrow(p, QPointF(1, 21), QPointF(11, 21), Sea);
    });
}

QImage statusGlyph() {
    return glyph([](QPainter& p) {
        p.setPen(QPen(Ink, 1.5));
        p.setBrush(Paper);
        p.drawRoundedRect(QRectF(5, 3, 22, 27), 2, 2);
        const QColor dots[] = {Green, Green, Amber, Red};
        for (int i = 0; i < 4; ++i) {
            p.setPen(Qt::NoPen);
            p.setBrush(dots[i]);
            p.drawEllipse(QPointF(10.5, 9 + i * 5.5), 2.2, 2.2);
            p.setPen(QPen(QColor(0x6b, 0x73, 0x85), 1.6));
            p.drawLine(QPointF(15, 9 + i * 5.5), QPointF(23, 9 + i * 5.5));
        }
    });
}

QImage resetGlyph() {
    return glyph([](QPainter& p) {
        p.setPen(QPen(Deep, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(5, 5, 22, 22), 100 * 16, 290 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(Deep);
        QPolygonF head;
        head << QPointF(11, 1) << QPointF(19, 6.5) << QPointF(11, 12);
        p.drawPolygon(head);
    });
}

QImage exitGlyph() {
    return glyph([](QPainter& p) {
        p.setPen(QPen(Ink, 1.5));
        p.setBrush(QColor(0xb8, 0x86, 0x4f));
        p.drawRect(QRectF(4, 3, 15, 26));
        p.setBrush(Ink);
        p.drawEllipse(QPointF(16, 17), 1.2, 1.2);
        arrow(p, QPointF(15, 16), QPointF(30, 16), Red);
    });
}

QImage closeGlyph() {
    return glyph([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(Red);
        p.drawEllipse(QRectF(3, 3, 26, 26));
        p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 11), QPointF(21, 21));
        p.drawLine(QPointF(21, 11), QPointF(11, 21));
    });
}

QImage okGlyph() {
    return glyph([](QPainter& p) {
        p.setPen(QPen(Green, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        QPolygonF tick;
        tick << QPointF(5, 17) << QPointF(12, 24) << QPointF(27, 8);
        p.drawPolyline(tick);
    });
}

// The plug and socket on the connect button of both connection dialogs,
// drawn at the 26 x 26 the buttons show.
QImage connectGlyph() {
    QImage image = canvas(26, 26);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor body(0x3a, 0x46, 0x58);
    const QColor brass(0xc8, 0x9b, 0x32);
    p.setPen(QPen(body, 2));
    p.drawLine(QPointF(0, 13), QPointF(6, 13));
    p.drawLine(QPointF(20, 13), QPointF(26, 13));
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(5, 7, 7, 12), 2, 2);
    p.drawRoundedRect(QRectF(16, 6, 5, 14), 2, 2);
    p.setPen(QPen(brass, 2));
    p.drawLine(QPointF(12, 10), QPointF(16, 10));
    p.drawLine(QPointF(12, 16), QPointF(16, 16));
    return image;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const std::pair<const char*, QImage> pictures[] = {
        {"banner.png", banner()},    {"receipt.png", receipt()},      {"about.png", aboutPicture()},
        {"icon.png", icon()},        {"send.png", sendGlyph()},       {"status.png", statusGlyph()},
        {"reset.png", resetGlyph()}, {"exit.png", exitGlyph()},       {"close.png", closeGlyph()},
        {"ok.png", okGlyph()},       {"connect.png", connectGlyph()},
    };
    for (const auto& [name, image] : pictures) {
        const QString path = out.filePath(QString::fromLatin1(name));
        if (!image.save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
