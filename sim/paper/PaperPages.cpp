#include "sim/paper/PaperPages.h"

#include "sim/paper/PaperDots.h"
#include "sim/paper/PaperRenderer.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

QString PaperPages::pagePath(const QString& path, int page) {
    if (page <= 1)
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
    return suffix.isEmpty() ? QStringLiteral("%1-%2").arg(base).arg(page)
                            : QStringLiteral("%1-%2.%3").arg(base).arg(page).arg(suffix);
}

bool PaperPages::add(const PaperLine& line) {
    const int dots = PaperRenderer::lineDots(line);
    if (!page_.isEmpty() && dots_ + dots > PageDots - 2 * PaperRenderer::MarginDots)
        writePage();
    page_.append(line);
    dots_ += dots;
    return ok_;
}

QImage PaperPages::draw() const {
    if (scale_ <= 1)
        return PaperDots::render(page_);
    return PaperRenderer::render(page_, qreal(scale_) / PaperRenderer::PixelsPerDot);
}

// The picture says its real size: scale_ pixels to each dot of the head.
bool PaperPages::writePage() {
    ++pages_;
    if (ok_) {
        QImage page = draw();
        const int perMetre = int(std::lround(PaperRoll::HeadDotsPerInch * scale_ / 0.0254));
        page.setDotsPerMeterX(perMetre);
        page.setDotsPerMeterY(perMetre);
        ok_ = page.save(pagePath(path_, pages_), "PNG");
    }
    page_.clear();
    dots_ = 0;
    return ok_;
}

bool PaperPages::finish(int previousPages) {
    if (!page_.isEmpty() || pages_ == 0)
        writePage();
    for (int page = pages_ + 1; page <= previousPages; ++page)
        QFile::remove(pagePath(path_, page));
    return ok_;
}
