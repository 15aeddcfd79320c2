#include "sim/serve/PaperArchive.h"

#include "sim/paper/PaperDots.h"
#include "sim/paper/PaperPages.h"
#include "sim/paper/PaperText.h"
#include "sim/printer/VirtualPrinter.h"

#include <QBuffer>
#include <QDir>

#include <algorithm>

PaperArchive::PaperArchive(VirtualPrinter* printer, QObject* parent)
    : QObject(parent), printer_(printer) {
    connect(printer_, &VirtualPrinter::printed, this, &PaperArchive::append);
    connect(printer_, &VirtualPrinter::paperCleared, this, &PaperArchive::tear);
}

PaperArchive::~PaperArchive() = default;

bool PaperArchive::open(QString* error) {
    dir_ = std::make_unique<QTemporaryDir>(
        QDir::temp().filePath(QStringLiteral("tellumo-printer-web-XXXXXX")));
    if (!dir_->isValid()) {
        *error = QStringLiteral("temporary folder for the web page: %1").arg(dir_->errorString());
        return false;
    }
    startRoll();
    if (text_.isOpen())
        return true;
    *error = QStringLiteral("temporary folder for the web page: %1").arg(text_.errorString());
    return false;
}

QString PaperArchive::folder(int id) const {
    return dir_->filePath(QString::number(id));
}

void PaperArchive::startRoll() {
    ++rollId_;
    lines_ = textSize_ = 0;
    openPage_.clear();
    openPngLines_ = -1;
    QDir().mkpath(folder(rollId_));
    pages_ = std::make_unique<PaperPages>(folder(rollId_) + QStringLiteral("/page.png"), 1);
    text_.close();
    text_.setFileName(folder(rollId_) + QStringLiteral("/text.txt"));
    text_.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void PaperArchive::append(const PaperLine& line) {
    if (!pages_)
        return;
    const int written = pages_->pages();
    pages_->add(line);
    if (pages_->pages() != written)
        openPage_.clear(); // the line that did not fit starts the next page
    openPage_.append(line);
    ++lines_;
    const QByteArray text = paperTextLine(line).toUtf8();
    // At once: the page reads the text back through a handle of its own.
    text_.write(text);
    text_.flush();
    textSize_ += text.size();
}

// A roll nothing was printed on is no receipt: it is not listed.
void PaperArchive::tear() {
    if (!pages_ || lines_ == 0)
        return;
    pages_->finish(0);
    text_.flush();
    receipts_.prepend({rollId_, QDateTime::currentDateTime(), pages_->pages(), lines_});
    while (receipts_.size() > KeptReceipts)
        QDir(folder(receipts_.takeLast().id)).removeRecursively();
    startRoll();
}

int PaperArchive::pages() const {
    return pages_ ? pages_->pages() + 1 : 1;
}

QString PaperArchive::unfinishedText() const {
    return unfinishedLineText(printer_->unfinishedLine());
}

bool PaperArchive::known(int id) const {
    return id == rollId_ || std::any_of(receipts_.begin(), receipts_.end(),
                                        [id](const Receipt& receipt) { return receipt.id == id; });
}

QByteArray PaperArchive::pagePng(int id, int page) const {
    if (!known(id) || page < 1)
        return {};
    if (id == rollId_ && page == pages()) {
        // Drawn as PaperPages draws a page at one pixel per dot, once per change.
        if (openPngLines_ != lines_) {
            openPng_.clear();
            QBuffer buffer(&openPng_);
            buffer.open(QIODevice::WriteOnly);
            PaperDots::render(openPage_).save(&buffer, "PNG");
            openPngLines_ = lines_;
        }
        return openPng_;
    }
    QFile file(PaperPages::pagePath(folder(id) + QStringLiteral("/page.png"), page));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<QByteArray> PaperArchive::text(int id, qint64 from) const {
    if (!known(id))
        return std::nullopt;
    QFile file(folder(id) + QStringLiteral("/text.txt"));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(std::max<qint64>(0, from)))
        return std::nullopt;
    QByteArray text = file.readAll();
    if (id == rollId_ && from == 0)
        text += unfinishedText().toUtf8();
    return text;
}
