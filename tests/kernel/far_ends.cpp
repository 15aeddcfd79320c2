// The host side of scripts/kernel-test: boots the virtual machine under qemu
// and plays the far ends of its ports. COM2 echoes what it gets until the
// guest asks it to play a printer, which keeps what it gets and answers a
// status request; COM3 sends a telnet break when the guest asks; COM2 and
// COM4 lose CTS when asked (their backends are switched to pseudo-terminals,
// whose modem lines qemu reads as off); the emulated FTDI adapter echoes and
// is pulled out and put back when asked; LPT1's and LPT2's bytes go to files.
// What the printer on COM2 and the parallel ports got is checked once the
// machine is off against what the guest announced ("@@EXPECT com2|lptN <hex>").
//
// Usage: kernel_far_ends QEMU KERNEL INITRD WORKDIR SECONDS
// Prints the guest's console and one "@@HOST PASS|FAIL ..." line per check of
// its own; exits 0 when the guest's program and those checks passed.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QMap>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <memory>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {
void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class FarEnds : public QObject {
public:
    FarEnds(const QStringList& args) : dir_(args.at(3)), seconds_(args.at(4).toInt()) {
        qemu_.setProgram(args.at(0));
        qemu_.setArguments(qemuArguments(args.at(1), args.at(2)));
        qemu_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }

    bool start() {
        if (!openPty(ptys_["com2"]) || !openPty(ptys_["com4"]))
            return false;
        connect(&qemu_, &QProcess::readyReadStandardOutput, this, &FarEnds::console);
        connect(&qemu_, &QProcess::finished, this, &FarEnds::finished);
        qemu_.start();
        if (!qemu_.waitForStarted())
            return false;
        QTimer::singleShot(seconds_ * 1000, this, [this] {
            say("@@HOST FAIL the machine did not power off within " + QByteArray::number(seconds_) +
                " s; its last line: " + lastLine_);
            qemu_.kill();
        });
        attach(echo_, QStringLiteral("com2"), [this] { com2(); });
        attach(breaker_, QStringLiteral("com3"), [this] { breaker_.readAll(); });
        attach(ctsEnd_, QStringLiteral("com4"), [this] { ctsEnd_.readAll(); });
        // qemu stalls the whole machine while this end is not read.
        attach(ftdi_, QStringLiteral("ftdi"), [this] { ftdi_.write(ftdi_.readAll()); });
        attach(qmp_, QStringLiteral("qmp"), [this] { qmpReply(); });
        return true;
    }

private:
    QStringList qemuArguments(const QString& kernel, const QString& initrd) const {
        const QString d = dir_ + QLatin1Char('/');
        return {"-M",
                "pc",
                "-accel",
                "tcg",
                "-m",
                "1024",
                "-nodefaults",
                "-no-user-config",
                "-display",
                "none",
                "-no-reboot",
                "-monitor",
                "none",
                "-kernel",
                kernel,
                "-initrd",
                initrd,
                "-append",
                "console=ttyS0 quiet panic=-1 8250.nr_uarts=5",
                "-chardev",
                "stdio,id=con,signal=off",
                "-device",
                "isa-serial,index=0,chardev=con",
                "-chardev",
                "socket,id=com2,server=on,wait=off,path=" + d + "com2.sock",
                "-device",
                "isa-serial,index=1,chardev=com2",
                "-chardev",
                "socket,id=com3,server=on,wait=off,telnet=on,path=" + d + "com3.sock",
                "-device",
                "isa-serial,index=2,chardev=com3,iobase=0x3e8,irq=5",
                "-chardev",
                "socket,id=com4,server=on,wait=off,path=" + d + "com4.sock",
                "-device",
                "isa-serial,index=3,chardev=com4,iobase=0x2e8,irq=10",
                "-chardev",
                "file,id=lpt1,path=" + d + "lpt1.out",
                "-device",
                "isa-parallel,index=0,chardev=lpt1",
                "-chardev",
                "file,id=lpt2,path=" + d + "lpt2.out",
                "-device",
                "isa-parallel,index=1,chardev=lpt2,irq=6",
                "-device",
                "qemu-xhci,id=xhci",
                "-chardev",
                "socket,id=ftdi,server=on,wait=off,path=" + d + "ftdi.sock",
                "-device",
                "usb-serial,chardev=ftdi,id=ftdi0,bus=xhci.0",
                "-qmp",
                "unix:" + d + "qmp.sock,server=on,wait=off"};
    }

    // A pseudo-terminal a port is switched to; what reaches it is drained.
    struct Pty {
        int fd = -1;
        std::unique_ptr<QSocketNotifier> notifier;
    };
    bool openPty(Pty& pty) {
        pty.fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (pty.fd < 0 || grantpt(pty.fd) != 0 || unlockpt(pty.fd) != 0)
            return false;
        termios t{};
        tcgetattr(pty.fd, &t);
        cfmakeraw(&t);
        tcsetattr(pty.fd, TCSANOW, &t);
        pty.notifier = std::make_unique<QSocketNotifier>(pty.fd, QSocketNotifier::Read);
        connect(pty.notifier.get(), &QSocketNotifier::activated, this, [fd = pty.fd] {
            char buffer[4096];
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
        });
        return true;
    }

    // The printer answers a status request ("ESC v") as the gadget printer
    // of the guest programs does.
    void com2() {
        const QByteArray arrived = echo_.readAll();
        if (!com2Printer_) {
            echo_.write(arrived);
            return;
        }
        const qsizetype from = std::max<qsizetype>(0, received_["com2"].size() - 1);
        received_["com2"] += arrived;
        if (received_["com2"].indexOf("\x1bv", from) >= 0)
            echo_.write("\x01PRONTA 1");
    }

    // Connects to one of qemu's sockets as soon as qemu has made it.
    template <typename OnData>
    void attach(QLocalSocket& socket, const QString& name, OnData onData) {
        connect(&socket, &QLocalSocket::readyRead, this, onData);
        connect(&socket, &QLocalSocket::connected, this, [this, &socket, name] {
            if (name == QLatin1String("qmp"))
                socket.write("{\"execute\":\"qmp_capabilities\"}\n");
        });
        auto* retry = new QTimer(this);
        retry->setInterval(50);
        connect(retry, &QTimer::timeout, this, [&socket, retry, name, this] {
            if (socket.state() == QLocalSocket::ConnectedState) {
                retry->stop();
                return;
            }
            socket.abort();
            socket.connectToServer(dir_ + QLatin1Char('/') + name + QStringLiteral(".sock"));
        });
        retry->start();
    }

    void console() {
        buffer_ += qemu_.readAllStandardOutput();
        for (qsizetype end; (end = buffer_.indexOf('\n')) >= 0;) {
            const QByteArray line = buffer_.left(end).trimmed();
            buffer_.remove(0, end + 1);
            say(line);
            if (!line.isEmpty())
                lastLine_ = line;
            if (line == "@@DO break")
                breaker_.write("\xff\xf3"); // telnet IAC BREAK
            else if (line.startsWith("@@DO drop-cts "))
                dropCts(line.mid(14));
            else if (line == "@@DO com2-printer")
                com2Printer_ = true;
            else if (line == "@@DO unplug-ftdi")
                unplugFtdi();
            else if (line == "@@DO plug-ftdi")
                plugFtdi();
            else if (const QList<QByteArray> w = line.split(' ');
                     w.size() == 3 && w[0] == "@@EXPECT")
                expected_[w[1]] += QByteArray::fromHex(w[2]);
            else if (line.startsWith("@@EXIT "))
                guestStatus_ = line.mid(7).toInt();
        }
    }

    void dropCts(const QByteArray& port) {
        if (!ptys_.count(port))
            return say("@@HOST FAIL no pseudo-terminal to switch " + port + " to");
        const QByteArray pts = ptsname(ptys_[port].fd);
        qmp_.write("{\"execute\":\"chardev-change\",\"arguments\":{\"id\":\"" + port +
                   "\",\"backend\":{\"type\":\"serial\",\"data\":{\"device\":\"" + pts +
                   "\"}}}}\n");
    }

    void unplugFtdi() {
        ftdiDeleted_ = false;
        qmp_.write(R"({"execute":"device_del","arguments":{"id":"ftdi0"}})"
                   "\n");
    }

    // The adapter's chardev stays in use until qemu reports the old device
    // deleted, which can come after the guest has seen it go.
    void plugFtdi() {
        if (!ftdiDeleted_) {
            plugWhenDeleted_ = true;
            return;
        }
        plugWhenDeleted_ = false;
        qmp_.write(R"({"execute":"device_add","arguments":{"driver":"usb-serial",)"
                   R"("chardev":"ftdi","id":"ftdi0","bus":"xhci.0"}})"
                   "\n");
    }

    void qmpReply() {
        const QByteArray reply = qmp_.readAll();
        if (reply.contains("\"error\""))
            say("@@HOST qmp: " + reply.trimmed());
        if (reply.contains("DEVICE_DELETED") && reply.contains("\"ftdi0\"")) {
            ftdiDeleted_ = true;
            if (plugWhenDeleted_)
                plugFtdi();
        }
    }

    // Each parallel port's file, and COM2's printer, got exactly what the
    // guest said it sent.
    bool arrived(const QByteArray& name) {
        QByteArray got = received_.value(name);
        if (name.startsWith("lpt")) {
            QFile lpt(dir_ + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".out"));
            got = lpt.open(QIODevice::ReadOnly) ? lpt.readAll() : QByteArray();
        }
        const QByteArray& expected = expected_[name];
        const bool ok = got == expected;
        say(QByteArray(ok ? "@@HOST PASS" : "@@HOST FAIL") + " " + name + ": the " +
            QByteArray::number(expected.size()) +
            " bytes the guest sent arrived intact and in order (got " +
            QByteArray::number(got.size()) + " bytes)");
        return ok;
    }

    void finished() {
        const bool lpt1 = arrived("lpt1");
        const bool lpt2 = arrived("lpt2");
        const bool com2 = arrived("com2");
        QCoreApplication::exit(guestStatus_ == 0 && lpt1 && lpt2 && com2 ? 0 : 1);
    }

    const QString dir_;
    const int seconds_;
    QProcess qemu_;
    QLocalSocket echo_, breaker_, ctsEnd_, ftdi_, qmp_;
    QMap<QByteArray, QByteArray> expected_, received_;
    bool com2Printer_ = false;
    bool ftdiDeleted_ = true;
    bool plugWhenDeleted_ = false;
    std::map<QByteArray, Pty> ptys_;
    QByteArray buffer_;
    QByteArray lastLine_;
    int guestStatus_ = -1;
};
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: kernel_far_ends QEMU KERNEL INITRD WORKDIR SECONDS\n");
        return 2;
    }
    FarEnds farEnds(args);
    if (!farEnds.start()) {
        std::fprintf(stderr, "kernel_far_ends: cannot start qemu or open a pseudo-terminal\n");
        return 2;
    }
    return app.exec();
}
