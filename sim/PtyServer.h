#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;
class VirtualPrinter;

// Serves the virtual printer on a pseudo-terminal, so that any serial program
// can open the terminal's path as its port: what the program writes goes to
// the printer, the printer's replies come back as the port's input. A
// pseudo-terminal has no modem lines, so the printer is always ready there.
//
// The server holds the terminal's own end open too: the terminal starts raw
// (no echo of the printer's input back to it) and survives programs opening
// and closing it one after another.
class PtyServer : public QObject {
    Q_OBJECT
public:
    explicit PtyServer(VirtualPrinter* printer, QObject* parent = nullptr);
    ~PtyServer() override;

    // False with *error set when the terminal cannot be made.
    bool open(QString* error);
    // The terminal's path, for example /dev/pts/3.
    QString path() const { return path_; }

private:
    void readable();
    void reply(const QByteArray& bytes);

    VirtualPrinter* printer_;
    int master_ = -1;
    int terminal_ = -1;
    QString path_;
    QSocketNotifier* notifier_ = nullptr;
};
