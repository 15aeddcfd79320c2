#pragma once

#include "sim/printer/VirtualPrinter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>

// The printer's log as JSON Lines, for tests that assert on what the printer
// was told rather than on the paper. One object per line, keys in order:
//   {"dir":"in","hex":"1B 76","ms":120,"name":"bytes"}
//   {"dir":"in","hex":"1B 76","ms":120,"name":"status-request","text":"Pedido de status"}
//   {"dir":"out","hex":"06 50 4C 46 31 31 30 56 4E","ms":120,"name":"bytes"}
//   {"dir":"printer","ms":900,"name":"drawer-open","text":"Gaveta aberta"}
// "ms" is the time since the printer started; "dir" is "in" for what the
// host sent and the commands in it, "out" for replies, "printer" for what the
// printer itself did or was told on its panel; "value" is the command's
// value where it has one; "warning": true marks a fault.
QByteArray eventLine(const PrinterLogEntry& entry, qint64 ms);

class PrinterEvents : public QObject {
    Q_OBJECT
public:
    PrinterEvents(VirtualPrinter* printer, const QString& path, QObject* parent = nullptr);
    bool open(QString* error);
    // Everything logged so far is in the file.
    bool flush() { return file_.flush(); }

private:
    void write(const PrinterLogEntry& entry);

    QFile file_;
    QElapsedTimer clock_;
};
