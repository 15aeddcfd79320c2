#pragma once

#include <QLabel>

// A picture that reports clicks and double clicks the way the operator's
// desktop pairs them: the first click of a double click is a click, the
// second is only the double click.
class ClickableImage : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};
