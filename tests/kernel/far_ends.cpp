// The host side of scripts/kernel-test: boots the virtual machine under qemu
// and plays the far ends of its ports. COM2 echoes what it gets; COM3 sends a
// telnet break when the guest asks; COM4 loses CTS when asked (its backend is
// switched to a pseudo-terminal, whose modem lines qemu reads as off); the
// emulated FTDI adapter echoes and is pulled out and put back when asked;
// LPT1's and LPT2's bytes go to files, checked once the machine is off
// against what the guest announced ("@@EXPECT lptN <hex>").
//
// Usage: kernel_far_ends QEMU KERNEL INITRD WORKDIR SECONDS
// Prints the guest's console and one "@@HOST PASS|FAIL ..." line per check of
// its own; exits 0 when the guest's program and those checks passed.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
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
        if (!openPty())
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
        attach(echo_, QStringLiteral("com2"), [this] { echo_.write(echo_.readAll()); });
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

    // The pseudo-terminal COM4 is switched to; what reaches it is drained.
    bool openPty() {
        pty_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (pty_ < 0 || grantpt(pty_) != 0 || unlockpt(pty_) != 0)
            return false;
        termios t{};
        tcgetattr(pty_, &t);
        cfmakeraw(&t);
        tcsetattr(pty_, TCSANOW, &t);
        ptyNotifier_ = std::make_unique<QSocketNotifier>(pty_, QSocketNotifier::Read);
        connect(ptyNotifier_.get(), &QSocketNotifier::activated, this, [this] {
            char buffer[4096];
            while (::read(pty_, buffer, sizeof buffer) > 0) {
            }
        });
        return true;
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
            else if (line == "@@DO drop-cts")
                dropCts();
            else if (line == "@@DO unplug-ftdi")
                unplugFtdi();
            else if (line == "@@DO plug-ftdi")
                plugFtdi();
            else if (line.startsWith("@@EXPECT lpt1 "))
                expected_[0] += QByteArray::fromHex(line.mid(14));
            else if (line.startsWith("@@EXPECT lpt2 "))
                expected_[1] += QByteArray::fromHex(line.mid(14));
            else if (line.startsWith("@@EXIT "))
                guestStatus_ = line.mid(7).toInt();
        }
    }

    void dropCts() {
        const QByteArray pts = ptsname(pty_);
        qmp_.write("{\"execute\":\"chardev-change\",\"arguments\":{\"id\":\"com4\",\"backend\":"
                   "{\"type\":\"serial\",\"data\":{\"device\":\"" +
                   pts + "\"}}}}\n");
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

    // Each parallel port's file holds exactly what the guest said it sent.
    bool lptArrived(int port) {
        const QByteArray name = "lpt" + QByteArray::number(port);
        QFile lpt(dir_ + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".out"));
        const QByteArray got = lpt.open(QIODevice::ReadOnly) ? lpt.readAll() : QByteArray();
        const QByteArray& expected = expected_[port - 1];
        const bool ok = got == expected;
        say(QByteArray(ok ? "@@HOST PASS" : "@@HOST FAIL") + " " + name + ": the " +
            QByteArray::number(expected.size()) +
            " bytes the guest sent arrived intact and in order (got " +
            QByteArray::number(got.size()) + " bytes)");
        return ok;
    }

    void finished() {
        const bool lpt1 = lptArrived(1);
        const bool lpt2 = lptArrived(2);
        QCoreApplication::exit(guestStatus_ == 0 && lpt1 && lpt2 ? 0 : 1);
    }

    const QString dir_;
    const int seconds_;
    QProcess qemu_;
    QLocalSocket echo_, breaker_, ctsEnd_, ftdi_, qmp_;
    QByteArray expected_[2];
    bool ftdiDeleted_ = true;
    bool plugWhenDeleted_ = false;
    int pty_ = -1;
    std::unique_ptr<QSocketNotifier> ptyNotifier_;
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
