#pragma once

#include "sim/PrinterLine.h"
#include "sim/Rfc2217Session.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <memory>

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
//    RTS, break) and is told the printer's CTS, DSR and CD. With hardware
//    flow control nothing is taken from the socket while CTS is off; without
//    it the bytes go on as a real port sends them, and what the buffer has no
//    room for is lost, counted and logged. Bytes sent while the client's
//    settings differ from the printer's own line are line noise: not
//    printed, counted, and said once (line-mismatch).
// One client at a time: the next waits until it closes. Its close is the
// host closing the port: what it sent before still prints, replies it did
// not read are dropped, and the serial port goes back to the printer's
// settings. Each turn of the event loop takes a bounded share of a client's
// bytes, and no more is read while 64 kB of replies wait unread.
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

private:
    static bool listenOn(QTcpServer& server, Kind kind, const QString& where, QString* error);
    void accept();
    void readable();
    bool held() const;
    qsizetype readTurn();
    void deliver();
    void noise(qsizetype bytes);
    void take(const QByteArray& bytes);
    void clientClosed();
    void finish();
    void reply(const QByteArray& bytes);
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
    QTcpSocket* client_ = nullptr;
    QString peer_;
    std::unique_ptr<Rfc2217Session> session_;
    QByteArray inbox_; // the client's data not yet taken by the printer
    QByteArray held_;  // replies the client asked us to hold back
    bool suspended_ = false;
    bool receiving_ = false; // the printer is taking bytes from here
    bool closed_ = false;    // the client has gone; its bytes are still taken
    bool mismatchSaid_ = false;
    qint64 noise_ = 0;
    QTimer nextTurn_;
    QTimer uartSettled_; // the settings a client sends in a row are logged once
};
