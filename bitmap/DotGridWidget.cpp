#include "bitmap/DotGridWidget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

const QColor Outline(0x80, 0x80, 0x80);
// Room around the dots for the focus ring of the outer ones.
constexpr int Ring = 2;

// The index of the dot covering offset along one axis, or -1. A dot may be
// one pixel wider than the pitch, so that neighbours share their outline.
int dotIndex(int offset, int pitch, int size, int count) {
    if (offset < 0)
        return -1;
    const int index = std::min(offset / pitch, count - 1);
    return offset - index * pitch < size ? index : -1;
}

} // namespace

TDotGrid::TDotGrid(std::span<uint8_t> columns, const Layout& layout, QWidget* parent)
    : QWidget(parent), columns_(columns), layout_(layout) {
    setObjectName(QStringLiteral("DotGrid"));
    const QSize dots((ColumnCount() - 1) * layout.pitch.width() + layout.dot.width(),
                     (Rows - 1) * layout.pitch.height() + layout.dot.height());
    setGeometry(QRect(layout.origin - QPoint(Ring, Ring), dots + QSize(2 * Ring, 2 * Ring)));
    setFocusPolicy(Qt::StrongFocus);
}

void TDotGrid::ToggleDot(int column, int row) {
    // Reading the fill and reading the bit are the same thing here.
    columns_[column] ^= static_cast<uint8_t>(1u << row);
    updateDot({column, row});
}

bool TDotGrid::IsBlack(int column, int row) const {
    return (columns_[column] >> row) & 1u;
}

QRect TDotGrid::DotRect(int column, int row) const {
    return {Ring + column * layout_.pitch.width(), Ring + row * layout_.pitch.height(),
            layout_.dot.width(), layout_.dot.height()};
}

std::optional<QPoint> TDotGrid::DotAt(QPoint pos) const {
    const int column =
        dotIndex(pos.x() - Ring, layout_.pitch.width(), layout_.dot.width(), ColumnCount());
    const int row = dotIndex(pos.y() - Ring, layout_.pitch.height(), layout_.dot.height(), Rows);
    if (column < 0 || row < 0)
        return std::nullopt;
    return QPoint(column, row);
}

void TDotGrid::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Outline, 1));
    for (int column = 0; column < ColumnCount(); ++column)
        for (int row = 0; row < Rows; ++row) {
            const QRect rect = DotRect(column, row);
            if (!event->rect().intersects(rect))
                continue;
            p.setBrush(IsBlack(column, row) ? Qt::black : Qt::white);
            p.drawEllipse(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5));
        }
    if (hasFocus()) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(palette().color(QPalette::Highlight), Ring));
        p.setBrush(Qt::NoBrush);
        p.drawRect(DotRect(focus_.x(), focus_.y()).adjusted(-1, -1, 0, 0));
    }
}

void TDotGrid::mousePressEvent(QMouseEvent* event) {
    // Any button toggles, whatever the shift keys; the release does nothing.
    const auto dot = DotAt(event->position().toPoint());
    if (!dot)
        return;
    moveFocus(*dot);
    ToggleDot(dot->x(), dot->y());
}

void TDotGrid::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
        return moveFocus(focus_ - QPoint(1, 0));
    case Qt::Key_Right:
        return moveFocus(focus_ + QPoint(1, 0));
    case Qt::Key_Up:
        return moveFocus(focus_ - QPoint(0, 1));
    case Qt::Key_Down:
        return moveFocus(focus_ + QPoint(0, 1));
    case Qt::Key_Space:
        return ToggleDot(focus_.x(), focus_.y());
    default:
        QWidget::keyPressEvent(event);
    }
}

void TDotGrid::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    updateDot(focus_);
}

void TDotGrid::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    updateDot(focus_);
}

// The ring stops at the grid's edges.
void TDotGrid::moveFocus(QPoint to) {
    to = {std::clamp(to.x(), 0, ColumnCount() - 1), std::clamp(to.y(), 0, Rows - 1)};
    if (to == focus_)
        return;
    updateDot(focus_);
    focus_ = to;
    updateDot(focus_);
}

void TDotGrid::updateDot(QPoint dot) {
    update(DotRect(dot.x(), dot.y()).adjusted(-Ring, -Ring, Ring, Ring));
}
