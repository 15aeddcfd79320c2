#pragma once

#include <QAbstractScrollArea>
#include <QList>

class VirtualPrinter;

// The paper roll as it leaves the printer: scrolls, newest line at the
// bottom, and follows new lines while it is scrolled to the bottom. Only the
// lines in view are painted, so a long roll stays cheap.
class PaperRollWidget : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit PaperRollWidget(VirtualPrinter* printer, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void paperChanged();
    void updateScrollBar();
    qreal dot() const; // pixels per dot of the head

    VirtualPrinter* printer_;
    qreal zoom_ = 1.0;
    QList<qreal> tops_; // the top of each line on the roll; one more entry for the end
    int tornOff_ = 0;
};
