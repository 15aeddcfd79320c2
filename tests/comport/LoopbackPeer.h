#pragma once

#include "LoopbackListener.h"

#include <QByteArray>
#include <QString>
#include <QTest>

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A peer on 127.0.0.1 that does what the test says: reads or stops reading
// (its receive buffer is small, so its window closes soon), answers a
// network line's RFC 2217 settings, and sends whatever the test likes.
class LoopbackPeer {
public:
    LoopbackPeer() { listener_ = loopbackListener(port_, 4096); }
    ~LoopbackPeer() {
        for (const int fd : {client_, listener_})
            if (fd >= 0)
                ::close(fd);
    }
    QString url(bool rfc2217) const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(rfc2217 ? "rfc2217" : "tcp").arg(port_);
    }
    // Accepts on a thread, so that a line's open, which waits for the
    // server's answers with the event loop running, can be made meanwhile.
    void accept() { client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC); }
    // What has arrived within ms, without waiting longer.
    QByteArray read(int ms = 0) {
        QByteArray got;
        pollfd p{client_, POLLIN, 0};
        char buffer[65536];
        while (poll(&p, 1, got.isEmpty() ? ms : 0) > 0) {
            const ssize_t n = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                break;
            got.append(buffer, int(n));
        }
        return got;
    }
    // Sends what the socket takes now; the count taken.
    qsizetype send(const QByteArray& bytes) {
        const ssize_t n =
            ::send(client_, bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        return n < 0 ? 0 : n;
    }
    // The device server's part of an open: takes COM-PORT-OPTION, confirms
    // each of the four line settings as asked, reports its lines on.
    QByteArray serve(const QByteArray& got) {
        QByteArray answer;
        if (got.contains("\xff\xfb\x2c"))
            answer += QByteArray("\xff\xfd\x2c", 3);
        for (qsizetype at = got.indexOf("\xff\xfa\x2c"); at >= 0;
             at = got.indexOf("\xff\xfa\x2c", at + 1)) {
            const qsizetype end = got.indexOf("\xff\xf0", at);
            const char code = got.at(at + 3);
            if (end < 0 || code < 1 || code > 4)
                continue;
            answer += got.mid(at, end + 2 - at);
            answer[answer.size() - (end + 2 - at) + 3] = char(code + 100);
        }
        if (!answer.isEmpty())
            answer += QByteArray("\xff\xfa\x2c\x6b\xb0\xff\xf0", 7); // CD, DSR, CTS on
        return answer;
    }

private:
    int listener_ = -1;
    int client_ = -1;
    quint16 port_ = 0;
};
