#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

// The printer takes text in the Windows ANSI code page, one byte per
// character. The table lives here so the bytes do not depend on which codecs
// the Qt build carries.
namespace Windows1252 {

// A character the code page cannot hold becomes '?', as Windows converts it;
// a surrogate pair is one character and gives one '?'.
QByteArray encode(QStringView text);
QString decode(QByteArrayView bytes);
QChar decodeByte(uint8_t byte);

// The character an Alt code stands for: the decimal digits typed on the
// keypad with Alt held, read as a code of this page ("0176", "176" and "65"
// alike); a code above 255, or no digits, stands for none.
std::optional<QChar> altCode(QStringView digits);

} // namespace Windows1252
