#pragma once

#include <QPoint>
#include <QSize>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <span>

// A dialog's grid of dots, eight rows high, one column byte per grid column:
// the dot in column c, row r is black exactly when bit r of byte c is set
// (row 0 at the top). The fills are drawn from the bytes, so the picture and
// the bytes never disagree. A press of any mouse button on a dot toggles it;
// from the keyboard the arrow keys move a focus ring and Space toggles the
// dot inside it.
class TDotGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr int Rows = 8;

    // Where the dots sit on the dialog: the top-left corner of the top-left
    // dot, the step from one column (row) to the next, and each dot's size.
    struct Layout {
        QPoint origin;
        QSize pitch;
        QSize dot;
    };

    TDotGrid(std::span<uint8_t> columns, const Layout& layout, QWidget* parent);

    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    void ToggleDot(int column, int row);
    bool IsBlack(int column, int row) const;
    // The dot's rectangle in the grid's own coordinates.
    QRect DotRect(int column, int row) const;
    // The dot under pos as (column, row). Neighbouring dots share their
    // outline; there the right or lower dot is hit.
    std::optional<QPoint> DotAt(QPoint pos) const;
    // The dot inside the focus ring, as (column, row).
    QPoint FocusDot() const { return focus_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void moveFocus(QPoint to);
    void updateDot(QPoint dot);

    std::span<uint8_t> columns_;
    Layout layout_;
    QPoint focus_;
};
