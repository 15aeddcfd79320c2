#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// The printer's two replies. Byte 0 is not used; bytes 1 onward carry a text
// that a zero byte may end early.
namespace Commands {

inline constexpr int StatusReplyLength = 9;
inline constexpr int IdentificationReplyLength = 17;

// reply holds what Read stored and count is what Read returned. A decoder
// fails on any count but its reply length; otherwise it gives the text of
// bytes 1 onward up to the first zero, at most 8 or 16 bytes.
std::optional<QByteArray> decodeStatusReply(QByteArrayView reply, int count);
std::optional<QByteArray> decodeIdentificationReply(QByteArrayView reply, int count);

} // namespace Commands
