#pragma once

// tellumo-printer run by a benchmark: started with a control socket in a
// folder of the bench's own, asked panel commands on it, ended with SIGTERM.
#include <QByteArray>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

inline int connectTo(int family, const void* address, socklen_t size) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, static_cast<const sockaddr*>(address), size) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

inline int connectTcp(quint16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connectTo(AF_INET, &address, sizeof address);
}

inline bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

class PrinterProcess {
public:
    // The printer at --speed 0 with these arguments; its end waits up to
    // endMs for the files it writes at exit.
    PrinterProcess(const QString& folder, const QStringList& arguments, int endMs = 60000)
        : control_(folder + "/control"), endMs_(endMs) {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral(TELLUMO_PRINTER),
                      QStringList{"--speed", "0", "--control", control_} + arguments);
        for (int i = 0; i < 2000 && !QFileInfo::exists(control_); ++i)
            QThread::msleep(10);
    }
    ~PrinterProcess() {
        process.terminate();
        process.waitForFinished(endMs_);
    }
    QByteArray ask(const QByteArray& command) const {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(control_));
        const int fd = connectTo(AF_UNIX, &address, sizeof address);
        QByteArray answer;
        char c = 0;
        if (fd >= 0 && writeAll(fd, command + '\n'))
            while (::read(fd, &c, 1) == 1 && c != '\n')
                answer += c;
        if (fd >= 0)
            ::close(fd);
        return answer;
    }
    QJsonObject state() const { return QJsonDocument::fromJson(ask("state")).object(); }
    // The port a network option took (port 0 picks a free one).
    quint16 port(const char* kind) const {
        const QString address = state()[QLatin1String(kind)][QLatin1String("address")].toString();
        return quint16(address.section(QLatin1Char(':'), -1).toUInt());
    }

    QProcess process;

private:
    QString control_;
    int endMs_;
};
