#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Acceptor;
class QLocalSocket;
class VirtualPrinter;

// The printer's panel for scripts: a Unix stream socket that takes one
// command per line and answers each with one line, "ok", "erro: …" or, for
// state, one JSON object:
//   paper out|in     offline on|off     reset (the power switch)
//   model dual|compatible     speed N (lines per second, 0 as fast as bytes come)
//   tear (the paper off)      save (the output files, now)     state
// At most MaxClients at once: the next is told so in an error line and
// closed. Its socket file is there as long as the printer runs.
class PrinterControl : public QObject {
    Q_OBJECT
public:
    // Writes the output files, then calls back with an empty string when all
    // went well or what failed; the answer to "save" waits for it.
    using Saved = std::function<void(const QString& error)>;
    using Save = std::function<void(Saved saved)>;

    static constexpr int MaxClients = 16;

    PrinterControl(VirtualPrinter* printer, Save save, QObject* parent = nullptr);
    ~PrinterControl() override;

    // False with *error set when the socket cannot be made; a stale socket
    // left by a printer that was killed is replaced, a live one is not.
    bool listen(const QString& path, QString* error);
    // What "state" also says under key: the terminal, the network ports.
    void addState(const QString& key, std::function<QJsonValue()> part);
    // One command line's answer, without its line end; "save" answers on
    // the socket only, once the files are written.
    QString run(const QString& line);
    // The printer's panel, settings and buffer, and the parts added, as one
    // line of JSON.
    QByteArray state() const;

private:
    void accept(int fd);
    void serve(QLocalSocket* socket);
    void readable(QLocalSocket* socket);
    void save(QLocalSocket* socket);

    VirtualPrinter* printer_;
    Save save_;
    QList<std::pair<QString, std::function<QJsonValue()>>> parts_;
    int listener_ = -1;
    QString path_;
    std::unique_ptr<Acceptor> acceptor_;
    int clients_ = 0;
};

// A print speed as given on the command line or the socket: 0, or from
// VirtualPrinter::MinLinesPerSecond to MaxLinesPerSecond; nothing otherwise.
std::optional<double> printSpeed(const QString& text);
