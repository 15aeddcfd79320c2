#pragma once

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

// A pseudo-terminal pair: the test holds the master, the port opens the
// slave by its path.
struct Pty {
    int master = -1;
    QString slavePath;

    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        slavePath = QString::fromLocal8Bit(ptsname(master));
        // Raw on the master side too, so bytes pass unchanged.
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master >= 0 && !slavePath.isEmpty(); }
    void closeMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void send(const QByteArray& bytes) const {
        [[maybe_unused]] const auto n = ::write(master, bytes.constData(), size_t(bytes.size()));
    }
    // What the port has written so far, without waiting.
    QByteArray drain() const {
        QByteArray all;
        const int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            all.append(buffer, int(n));
        }
        fcntl(master, F_SETFL, flags);
        return all;
    }
};
