#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The three requests that read a reply back, over the serial line only.
namespace Commands {

enum class Query { Status, Model, Firmware };

// The request for the query in the current dialect and its reply length.
QByteArray queryRequest(Query query, bool compatibleMode);
int queryReplyLength(Query query);

// Writes the request to ComPort1 and reads the reply, with no link check:
// for callers that made their own (the model probe at connect). Whatever was
// waiting in the input queue is discarded first, so a late or surplus reply
// to an earlier request is not taken for the start of this one. Gives the
// reply's text, or nothing when the reply came short or the line was lost
// while the request went out (a write that waits lets its handler run).
std::optional<QByteArray> exchangeQuery(Query query);

struct QueryResult {
    enum class Outcome {
        NotSerial,  // the serial-only message was shown, nothing was sent
        ReadFailed, // the reply came short; the caller shows its read error
        Lost,       // the line was lost meanwhile: its own box has said so
        Answered,
    };
    Outcome outcome = Outcome::NotSerial;
    QByteArray text; // the reply's text, when answered
    // The text as the operator reads it.
    QString shownText() const;
};

// The query as the menu and the button run it: refused with serialOnlyText in
// a plain message unless the serial interface is connected, then exchanged.
QueryResult runQuery(Query query, const QString& serialOnlyText);

} // namespace Commands
