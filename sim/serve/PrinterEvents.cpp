#include "sim/serve/PrinterEvents.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString direction(const PrinterLogEntry& entry) {
    switch (entry.kind) {
    case PrinterLogEntry::Kind::Received:
        return QStringLiteral("in");
    case PrinterLogEntry::Kind::Sent:
        return QStringLiteral("out");
    default:
        return entry.bytes.isEmpty() ? QStringLiteral("printer") : QStringLiteral("in");
    }
}

} // namespace

QByteArray eventLine(const PrinterLogEntry& entry, qint64 ms) {
    QJsonObject event{{QStringLiteral("ms"), ms}, {QStringLiteral("dir"), direction(entry)}};
    const bool raw =
        entry.kind == PrinterLogEntry::Kind::Received || entry.kind == PrinterLogEntry::Kind::Sent;
    event.insert(QStringLiteral("name"), raw ? QStringLiteral("bytes") : entry.name);
    if (entry.value.isValid())
        event.insert(QStringLiteral("value"), QJsonValue::fromVariant(entry.value));
    if (!entry.text.isEmpty())
        event.insert(QStringLiteral("text"), entry.text);
    if (!entry.bytes.isEmpty())
        event.insert(QStringLiteral("hex"), QString::fromLatin1(entry.bytes.toHex(' ').toUpper()));
    if (entry.kind == PrinterLogEntry::Kind::Warning)
        event.insert(QStringLiteral("warning"), true);
    return QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
}

PrinterEvents::PrinterEvents(VirtualPrinter* printer, const QString& path, QObject* parent)
    : QObject(parent), file_(path) {
    clock_.start();
    connect(printer, &VirtualPrinter::logged, this, &PrinterEvents::write);
}

bool PrinterEvents::open(QString* error) {
    if (file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    *error = file_.errorString();
    return false;
}

void PrinterEvents::write(const PrinterLogEntry& entry) {
    if (file_.isOpen())
        file_.write(eventLine(entry, clock_.elapsed()));
}
