#include "sim/serve/ReplyOutbox.h"

void ReplyOutbox::append(const QByteArray& encoded, const QByteArray& reply) {
    bytes_ += encoded;
    if (!reply.isEmpty())
        replies_.push_back({reply, gone_ + bytes_.size()});
}

void ReplyOutbox::append(ReplyOutbox& other) {
    const qint64 shift = gone_ + bytes_.size() - other.gone_;
    for (Reply& reply : other.replies_)
        replies_.push_back({std::move(reply.bytes), reply.end + shift});
    bytes_ += other.bytes_;
    other.gone_ += other.bytes_.size();
    other.bytes_.clear();
    other.replies_.clear();
}

QList<QByteArray> ReplyOutbox::remove(qsizetype count) {
    bytes_.remove(0, count);
    gone_ += count;
    QList<QByteArray> ended;
    for (; !replies_.empty() && replies_.front().end <= gone_; replies_.pop_front())
        ended.append(std::move(replies_.front().bytes));
    return ended;
}

qsizetype ReplyOutbox::clear() {
    qsizetype dropped = 0;
    for (const Reply& reply : replies_)
        dropped += reply.bytes.size();
    replies_.clear();
    gone_ += bytes_.size();
    bytes_.clear();
    return dropped;
}
