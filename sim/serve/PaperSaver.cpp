#include "sim/serve/PaperSaver.h"

#include <QFile>

PaperSaver::PaperSaver(PaperSpool* spool, Files files, QObject* parent)
    : QObject(parent), spool_(spool), files_(std::move(files)) {}

PaperSaver::~PaperSaver() {
    if (worker_.joinable())
        worker_.join();
}

void PaperSaver::save(Done done) {
    waiting_.append(std::move(done));
    if (!worker_.joinable())
        start();
}

void PaperSaver::start() {
    running_ = std::exchange(waiting_, {});
    QString error;
    PaperSpool::Snapshot roll = spool_->snapshot(&error);
    if (!roll.spool) {
        result_ = QStringLiteral("the paper's spool: %1").arg(error);
        for (const Done& done : std::exchange(running_, {}))
            done(result_);
        return;
    }
    worker_ = std::thread([this, roll = std::move(roll)] {
        result_ = write(roll);
        QMetaObject::invokeMethod(this, &PaperSaver::finished, Qt::QueuedConnection);
    });
}

// Also called by saveNow(): the queued call that comes after finds nothing to do.
void PaperSaver::finished() {
    if (!worker_.joinable())
        return;
    worker_.join();
    for (const Done& done : std::exchange(running_, {}))
        done(result_);
    if (!waiting_.isEmpty())
        start();
}

QString PaperSaver::saveNow() {
    while (worker_.joinable())
        finished();
    QString error;
    const PaperSpool::Snapshot roll = spool_->snapshot(&error);
    return roll.spool ? write(roll) : QStringLiteral("the paper's spool: %1").arg(error);
}

QString PaperSaver::write(const PaperSpool::Snapshot& roll) {
    QString error;
    if (!files_.text.isEmpty() && !PaperSpool::writeText(roll, files_.text, &error))
        return QStringLiteral("--text %1: %2").arg(files_.text, error);
    roll.spool->seek(0);
    if (!files_.png.isEmpty() &&
        !PaperSpool::writePng(roll, files_.png, files_.pngScale, &pngPages_, &error))
        return QStringLiteral("--png %1: %2").arg(files_.png, error);
    return {};
}
