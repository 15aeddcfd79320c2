#include "protocol/Replies.h"

namespace Commands {

namespace {

std::optional<QByteArray> replyText(QByteArrayView reply, int count, int length) {
    if (count != length || reply.size() < length)
        return std::nullopt;
    const QByteArrayView text = reply.sliced(1, length - 1);
    const qsizetype end = text.indexOf('\0');
    return (end < 0 ? text : text.first(end)).toByteArray();
}

} // namespace

std::optional<QByteArray> decodeStatusReply(QByteArrayView reply, int count) {
    return replyText(reply, count, StatusReplyLength);
}

std::optional<QByteArray> decodeIdentificationReply(QByteArrayView reply, int count) {
    return replyText(reply, count, IdentificationReplyLength);
}

} // namespace Commands
