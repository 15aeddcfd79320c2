#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// One line of the printer's log: what came in, what went out, what a command
// did, what went wrong. The parts of the printer fill it in; the printer
// stamps its time on it.
struct PrinterLogEntry {
    enum class Kind {
        Received, // bytes from the host
        Sent,     // a reply to the host
        Command,  // what a complete command did
        Warning,  // an unknown sequence, a lost byte, a bad parameter
        Event,    // what happened at the head: the drawer opened, a page ended
    };
    qint64 timeMs = 0; // printer time, see VirtualPrinter::now()
    Kind kind = Kind::Received;
    QByteArray bytes;
    QString text;
    // For programs reading the log: a fixed name ("page-size", "drawer-open")
    // and the value the command set, when it has one.
    QString name;
    QVariant value;
};
