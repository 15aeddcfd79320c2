#pragma once

#include <QByteArray>
#include <QList>

#include <deque>

// The bytes waiting for a network client, and the replies among them: on
// RFC 2217 a reply goes out telnet-encoded, mixed with the session's own
// notifications, and it has left only once its last encoded byte has. So
// the log says a reply was sent when it went, and a reply that never went
// is counted whole as dropped, however much of it had gone.
class ReplyOutbox {
public:
    // Bytes to go out; reply, unless empty, is the reply they carry.
    void append(const QByteArray& encoded, const QByteArray& reply = {});
    // Everything other holds, after what this holds; other is left empty.
    void append(ReplyOutbox& other);
    const QByteArray& bytes() const { return bytes_; }
    qsizetype size() const { return bytes_.size(); }
    bool isEmpty() const { return bytes_.isEmpty(); }
    // The first count bytes have gone: the replies they ended, in order.
    QList<QByteArray> remove(qsizetype count);
    // Empties it: the bytes of the replies that had not wholly gone.
    qsizetype clear();

private:
    struct Reply {
        QByteArray bytes;
        qint64 end; // past its last encoded byte, counted from the first byte ever appended
    };

    QByteArray bytes_;
    qint64 gone_ = 0; // bytes removed since the first byte ever appended
    std::deque<Reply> replies_;
};
