#include "windowkit/GlyphButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace {
constexpr int Gap = 3;
constexpr int Margin = 6;
} // namespace

QSize GlyphButton::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    const int textWidth = metrics.horizontalAdvance(QString(text()).remove(QLatin1Char('&')));
    return {std::max(iconSize().width(), textWidth) + 2 * Margin,
            iconSize().height() + Gap + metrics.height() + 2 * Margin};
}

void GlyphButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, option);

    QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    if (isDown()) {
        contents.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                           style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
    }
    const QSize glyph = iconSize();
    const int textHeight = fontMetrics().height();
    const int top = contents.top() + (contents.height() - glyph.height() - Gap - textHeight) / 2;
    const QRect glyphRect(contents.center().x() - glyph.width() / 2 + 1, top, glyph.width(),
                          glyph.height());
    icon().paint(&painter, glyphRect, Qt::AlignCenter,
                 isEnabled() ? QIcon::Normal : QIcon::Disabled);
    const QRect textRect(contents.left(), glyphRect.bottom() + 1 + Gap, contents.width(),
                         textHeight);
    painter.drawItemText(textRect, Qt::AlignHCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                         text(), QPalette::ButtonText);
}
