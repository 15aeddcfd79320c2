#pragma once

#include <QPushButton>

// A push button whose picture sits above its caption, for the tall buttons
// of the main window. The caption keeps its & accelerator.
class GlyphButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
