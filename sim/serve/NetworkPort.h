#pragma once

#include "sim/printer/LineSettings.h"
#include "sim/serve/ReplyOutbox.h"
#include "sim/serve/Rfc2217Session.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <memory>

class Acceptor;
class QHostAddress;
class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class VirtualPrinter;

// The printer on the network, for programs that cannot reach a local
// terminal (in a container, a virtual machine, another machine):
//  - Raw: a TCP port as a network receipt printer has (9100 by convention).
//    Bytes pass unchanged both ways; TCP's own flow control holds a sender
//    while the printer's buffer is full, so nothing is lost.
//  - Rfc2217: the printer behind a serial device server. The client sets up
//    the serial port (rate, data bits, parity, stop bits, flow control, DTR,
//    RTS, break) and is told the printer's CTS, DSR and CD. The telnet
//    stream is always read, into a bounded buffer as the server's UART has,
//    so the client's commands are answered whatever the line does; with
//    hardware flow control the data waits there while CTS is off, during a
//    break it waits for the break's end, and beyond the buffer it waits at
//    the sender. Without flow control the bytes go on as a real port sends
//    them, and what the printer has no room for is lost, counted and
//    logged. Bytes sent while the client's settings differ from the
//    printer's own line are line noise: not printed, counted, and said once
//    (line-mismatch).
// One client at a time: the next waits until it closes. Its close is the
// host closing the port: what it sent before still prints, replies it did
// not read are dropped (reply-dropped), and the serial port goes back to the
// printer's settings. A client that only shut its sending side still gets
// its replies. A reply is logged as sent when the client's kernel has taken
// its last byte, else as dropped: never both. Each turn of the event loop takes a bounded share of
// a client's bytes. Replies the client does not take (unread, or held by FLOWCONTROL-SUSPEND) fill
// the printer's reply buffer, and a printer whose reply buffer is full is busy: it takes nothing
// more, and CTS is off.
class NetworkPort : public QObject, private Rfc2217Session::Listener {
    Q_OBJECT
public:
    enum class Kind { Raw, Rfc2217 };

    NetworkPort(VirtualPrinter* printer, Kind kind, const LineSettings& line,
                QObject* parent = nullptr);
    ~NetworkPort() override;

    // Listens on "[HOST:]PORT" (an IP address, [::1] in brackets; the
    // loopback address when there is none; port 0 for any free one). False
    // with *error set, a port in use included.
    bool listen(const QString& where, QString* error);
    // The same check, made and undone at once: a program refuses a port in
    // use before it starts anything else.
    static bool canListen(Kind kind, const QString& where, QString* error);
    // What listen() does, for any TCP server; option names it in the error.
    static bool listenAt(QTcpServer& server, const QString& option, const QString& where,
                         QString* error);
    // Where it listens, with the port chosen: "127.0.0.1:9100".
    QString address() const;
    static QString addressOf(const QTcpServer& server);
    // The client, its serial port settings and the lines, for "state".
    QJsonObject state() const;
    // The printer's CTS as the serial port sees it.
    static bool cts(const VirtualPrinter& printer);
    // A client that sends nothing and is sent nothing for this long is
    // closed and the next one served; 0, the default, never.
    void setIdleTimeout(int seconds) { idleTimeout_.setInterval(seconds * 1000); }

    // The server's UART buffer for the client's bytes, and the printer's
    // buffer for replies a client has not taken.
    static constexpr qsizetype UartBuffer = 4096;
    static constexpr qsizetype ReplyBuffer = 4096;

private:
    static QString hostPort(const QHostAddress& host, quint16 port);
    static bool listenOn(QTcpServer& server, Kind kind, const QString& where, QString* error);
    void accept(int descriptor);
    void acceptFailed(int error);
    void readable();
    bool held() const;
    bool replyFull() const;
    bool ctsOn() const;
    qsizetype readTurn();
    bool deliver(const QElapsedTimer& turn);
    void noise(qsizetype bytes);
    void take(const QByteArray& bytes);
    void clientClosed();
    void finish();
    void idle();
    void reply(const QByteArray& bytes);
    void toClient(const QByteArray& bytes, const QByteArray& reply = {});
    void flushOut();
    void dropOut(const QString& why);
    void logDropped(qint64 bytes, const QString& why);
    void followPrinter();
    void logUart();
    QString kindName() const;
    bool hardwareFlow() const;

    void send(const QByteArray& bytes) override;
    void data(const char* bytes, int count) override { inbox_.append(bytes, count); }
    void uartChanged() override;
    void purge(bool fromPrinter, bool toPrinter) override;
    void suspend(bool suspended) override;

    VirtualPrinter* printer_;
    Kind kind_;
    LineSettings line_;
    QTcpServer* server_;
    std::unique_ptr<Acceptor> acceptor_;
    QTcpSocket* client_ = nullptr;
    QString peer_;
    std::unique_ptr<Rfc2217Session> session_;
    QByteArray inbox_; // the client's data not yet taken by the printer
    ReplyOutbox held_; // replies the client asked us to hold back
    // Qt closes its socket as soon as it reads the client's end of data, yet
    // a client that only shut its sending side still reads: what goes to the
    // client is written through a descriptor of our own.
    int out_ = -1;
    ReplyOutbox outbox_; // what the client's socket had no room for yet
    std::unique_ptr<QSocketNotifier> writable_;
    bool gone_ = false;  // nothing can reach the client any more
    qint64 dropped_ = 0; // reply bytes dropped and not yet logged
    bool suspended_ = false;
    bool receiving_ = false; // the printer is taking bytes from here
    bool closed_ = false;    // the client has gone; its bytes are still taken
    bool mismatchSaid_ = false;
    qint64 noise_ = 0;
    QTimer nextTurn_;
    QTimer uartSettled_; // the settings a client sends in a row are logged once
    QTimer idleTimeout_;
    QTimer linger_; // a closed client's last replies, at most this long
};
