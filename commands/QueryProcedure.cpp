#include "commands/QueryProcedure.h"

#include "link/LinkDevices.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "protocol/CommandBuilders.h"
#include "protocol/Replies.h"
#include "protocol/Windows1252.h"
#include "windowkit/Messages.h"

namespace Commands {

QByteArray queryRequest(Query query, bool compatibleMode) {
    switch (query) {
    case Query::Status:
        return statusRequest(compatibleMode);
    case Query::Model:
        return modelRequest();
    case Query::Firmware:
        return firmwareRequest();
    }
    return {};
}

int queryReplyLength(Query query) {
    return query == Query::Status ? StatusReplyLength : IdentificationReplyLength;
}

std::optional<QByteArray> exchangeQuery(Query query) {
    const QByteArray request = queryRequest(query, LinkState.CompatibleMode);
    const int length = queryReplyLength(query);
    // One byte past the reply stays zero, so the text always ends inside.
    QByteArray reply(length + 1, '\0');

    SerialPortAccess& port = *LinkDevices.ComPort1;
    port.ClearInput();
    port.Write(request.constData(), static_cast<int>(request.size()));
    if (!LinkState.SerialConnected)
        return std::nullopt;
    if (query == Query::Status)
        LinkSleep::Sleep(5);
    const int count = port.Read(reply.data(), length);

    return query == Query::Status ? decodeStatusReply(reply, count)
                                  : decodeIdentificationReply(reply, count);
}

QString QueryResult::shownText() const {
    return Windows1252::decode(text);
}

QueryResult runQuery(Query query, const QString& serialOnlyText) {
    if (!LinkState.SerialConnected) {
        Messages::plainMessage(serialOnlyText);
        return {};
    }
    if (std::optional<QByteArray> text = exchangeQuery(query))
        return {QueryResult::Outcome::Answered, std::move(*text)};
    if (!LinkState.SerialConnected)
        return {QueryResult::Outcome::Lost, {}};
    return {QueryResult::Outcome::ReadFailed, {}};
}

} // namespace Commands
