#include "sim/window/PaperRollWidget.h"

#include "sim/paper/PaperRenderer.h"
#include "sim/printer/VirtualPrinter.h"

#include <QPainter>
#include <QScrollBar>

#include <algorithm>

PaperRollWidget::PaperRollWidget(VirtualPrinter* printer, QWidget* parent)
    : QAbstractScrollArea(parent), printer_(printer) {
    setObjectName(QStringLiteral("PaperRoll"));
    // A window narrower than the paper scrolls it sideways, so the printer's
    // window fits small screens without shrinking the dots.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setBackgroundRole(QPalette::Dark);
    connect(printer_, &VirtualPrinter::paperChanged, this, &PaperRollWidget::paperChanged);
    paperChanged();
}

QSize PaperRollWidget::sizeHint() const {
    return {PaperRenderer::paperWidth(zoom_) + verticalScrollBar()->sizeHint().width() +
                2 * frameWidth(),
            460};
}

QSize PaperRollWidget::minimumSizeHint() const {
    return {320, 160};
}

void PaperRollWidget::paperChanged() {
    const QList<PaperLine>& lines = printer_->paper().lines();
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    // Lines torn off the top, or a cleared roll, move every line: start over.
    if (printer_->paper().tornOff() != tornOff_ || tops_.size() > lines.size() + 1 ||
        tops_.isEmpty()) {
        tornOff_ = printer_->paper().tornOff();
        tops_ = {PaperRenderer::MarginDots * dot()};
    }
    for (qsizetype i = tops_.size() - 1; i < lines.size(); ++i)
        tops_.append(tops_.last() + PaperRenderer::lineHeight(lines[i], zoom_));
    updateScrollBar();
    if (following)
        bar->setValue(bar->maximum());
    viewport()->update();
}

void PaperRollWidget::updateScrollBar() {
    const int total = static_cast<int>(tops_.last() + PaperRenderer::MarginDots * dot());
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setSingleStep(static_cast<int>(PaperRenderer::TextLineDots * dot()));
    bar->setRange(0, std::max(0, total - viewport()->height()));
    QScrollBar* across = horizontalScrollBar();
    across->setPageStep(viewport()->width());
    across->setSingleStep(static_cast<int>(PaperRenderer::TextLineDots * dot()));
    across->setRange(0, std::max(0, PaperRenderer::paperWidth(zoom_) - viewport()->width()));
}

void PaperRollWidget::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}

void PaperRollWidget::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int offset = verticalScrollBar()->value();
    const int paperWidth = PaperRenderer::paperWidth(zoom_);
    const int spare = viewport()->width() - paperWidth;
    const qreal x = spare >= 0 ? spare / 2 : -horizontalScrollBar()->value();
    painter.fillRect(viewport()->rect(), palette().dark());
    const qreal bottom = std::min<qreal>(viewport()->height(),
                                         tops_.last() + PaperRenderer::MarginDots * dot() - offset);
    PaperRenderer::paintBackground(painter, QRectF(x, 0, paperWidth, bottom));
    painter.translate(x, -offset);
    const QList<PaperLine>& lines = printer_->paper().lines();
    auto first = std::upper_bound(tops_.cbegin(), tops_.cend() - 1, qreal(offset));
    qsizetype i = std::max<qsizetype>(0, (first - tops_.cbegin()) - 1);
    for (; i < lines.size() && tops_[i] < offset + viewport()->height(); ++i)
        PaperRenderer::paintLine(painter, lines[i], tops_[i], zoom_);
}

qreal PaperRollWidget::dot() const {
    return PaperRenderer::dotSize(zoom_);
}
