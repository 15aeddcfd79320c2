#pragma once

#include "sim/serve/PaperArchive.h"
#include "sim/serve/WebPage.h"

#include <QAbstractHttpServer>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTimer>

#include <list>

class PrinterControl;
class QTcpServer;
struct PrinterLogEntry;
class VirtualPrinter;

// tellumo-printer's web page and its HTTP interface for scripts:
//   GET  /                 the page (the paper, its text, the panel, the receipts)
//   GET  /state            the control socket's `state` JSON
//   GET  /events?since=N   the events after N as JSON Lines (those of --events),
//                          waiting up to WaitMs for one; the header Next-Since
//                          is the N to ask next
//   GET  /poll?since=V     what the page shows once it differs from version V
//   GET  /paper.txt, /paper/N.png         the roll now, as --text and --png write it
//   GET  /rolls/ID.txt, /rolls/ID/N.png   the same of a roll or torn-off receipt
//   POST /command          do=paper-out|paper-in|offline-on|offline-off|reset|tear
// Loopback unless a host is given. A command is taken only from the page
// itself: the request's Origin must be the address it was sent to, and that
// address a name of this machine, so a page of another site (or one that
// renamed itself to this machine's address) cannot press the buttons. Every
// input is bounded: the connections, a request's size, the numbers asked.
class HttpPanel : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr int MaxConnections = 32;
    static constexpr qint64 MaxRequestBytes = 16 * 1024;
    static constexpr int WaitMs = 25000;
    static constexpr int KeptEvents = 200;
    static constexpr int ShownEvents = 15;

    // Adds "http" (its address) to the control's `state`.
    HttpPanel(VirtualPrinter* printer, PrinterControl* control, QObject* parent = nullptr);
    ~HttpPanel() override;

    // "[HOST:]PORT" as --listen takes it; false with *error set, a
    // temporary folder for the paper that cannot be made included.
    bool listen(const QString& where, QString* error);
    static bool canListen(const QString& where, QString* error);
    QString address() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Waiter {
        QHttpServerResponder responder;
        QPointer<QTcpSocket> socket;
        bool events;
        qint64 since;
        QDeadlineTimer deadline;
    };
    struct Event {
        qint64 seq;
        QByteArray line;
        QString shown;
    };

    void changed();
    void logged(const PrinterLogEntry& entry);
    void answerWaiters();
    bool due(const Waiter& waiter) const;
    void answer(Waiter& waiter);
    void wait(const QHttpServerRequest& request, QTcpSocket* socket, bool events);
    void command(const QHttpServerRequest& request, QTcpSocket* socket);
    bool paperRequest(const QString& path, QTcpSocket* socket, const QHttpServerRequest& request);
    WebPage::View view() const;

    VirtualPrinter* printer_;
    PrinterControl* control_;
    PaperArchive paper_;
    QTcpServer* server_ = nullptr;
    qint64 version_ = 1;
    qint64 lastEvent_ = 0;
    QList<Event> events_;
    std::list<Waiter> waiters_;
    QTimer settle_;   // changes in a row answer the waiting pages once
    QTimer deadline_; // the next waiting request to answer unchanged
    QElapsedTimer clock_;
};
