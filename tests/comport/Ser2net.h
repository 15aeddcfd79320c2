#pragma once

#include "LoopbackListener.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Debian's ser2net serving one device, started without root from a file the
// test writes, on two loopback ports: RFC 2217 and raw TCP. Stopped and
// started again on the same ports.
class Ser2net {
public:
    explicit Ser2net(const QString& device) : rfc2217Port(freePort()), rawPort(freePort()) {
        QFile yaml(dir.filePath("ser2net.yaml"));
        if (!yaml.open(QIODevice::WriteOnly))
            return;
        const QString connector =
            QStringLiteral("  connector: serialdev,%1,115200n81,local\n").arg(device);
        yaml.write(QStringLiteral("%YAML 1.1\n---\n"
                                  "connection: &rfc\n"
                                  "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n%3"
                                  "connection: &raw\n"
                                  "  accepter: tcp,127.0.0.1,%2\n%3")
                       .arg(rfc2217Port)
                       .arg(rawPort)
                       .arg(connector)
                       .toUtf8());
    }
    ~Ser2net() { stop(); }

    static bool installed() {
        return !QStandardPaths::findExecutable("ser2net", {"/usr/sbin", "/usr/bin"}).isEmpty();
    }
    // Started, and listening on both ports, within ms.
    bool start(int ms = 5000) {
        process.start(QStandardPaths::findExecutable("ser2net", {"/usr/sbin", "/usr/bin"}),
                      {"-n", "-c", dir.filePath("ser2net.yaml")});
        if (!process.waitForStarted())
            return false;
        for (int i = 0; i < ms / 50; ++i) {
            if (listening(rfc2217Port) && listening(rawPort))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    void stop() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        process.waitForFinished();
    }
    QString url(bool rfc2217) const {
        return rfc2217 ? QStringLiteral("rfc2217://127.0.0.1:%1").arg(rfc2217Port)
                       : QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort);
    }

    // A port nothing listens on now.
    static quint16 freePort() {
        quint16 port = 0;
        ::close(loopbackListener(port));
        return port;
    }

    QTemporaryDir dir;
    QProcess process;
    const quint16 rfc2217Port;
    const quint16 rawPort;

private:
    static bool listening(quint16 port) {
        QFile table("/proc/net/tcp");
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray local =
            "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
                return true;
        }
        return false;
    }
};
