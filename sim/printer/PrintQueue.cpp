// The print queue on its own, so that what the buffer holds is counted in one
// place: every byte that enters is either held or carried by a job, and leaves
// when the job has printed.
#include "sim/printer/PrintQueue.h"

void PrintQueue::setCapacity(int bytes) {
    capacity_ = bytes;
    updateMark();
}

void PrintQueue::setHeld(int bytes) {
    held_ = bytes;
    updateMark();
}

void PrintQueue::push(Job job) {
    if (job.kind == Job::Kind::Feed && job.feeds <= 0)
        return;
    queued_ += job.bytes;
    authentications_ += isAuthentication(job);
    jobs_.push_back(std::move(job));
}

void PrintQueue::print(qint64 ms, qint64 lineMs, const Printer& printer) {
    credit_ += ms;
    while (!jobs_.empty()) {
        Job& job = jobs_.front();
        const bool takesTime =
            job.kind == Job::Kind::Feed ||
            (job.kind == Job::Kind::Line && job.line.kind != PaperLine::Kind::Marker);
        const qint64 cost = takesTime ? lineMs : 0;
        if (cost > credit_)
            break;
        credit_ -= cost;
        printer(job);
        if (job.kind == Job::Kind::Feed && --job.feeds > 0)
            continue;
        queued_ -= job.bytes;
        authentications_ -= isAuthentication(job);
        jobs_.pop_front();
    }
    if (jobs_.empty())
        credit_ = 0;
    updateMark();
}

void PrintQueue::clear() {
    jobs_.clear();
    queued_ = 0;
    held_ = 0;
    authentications_ = 0;
    credit_ = 0;
    updateMark();
}

void PrintQueue::updateMark() {
    const int high = capacity_ - capacity_ / 8;
    if (fill() >= high)
        nearlyFull_ = true;
    else if (fill() <= capacity_ / 2)
        nearlyFull_ = false;
}
