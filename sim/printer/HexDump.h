#pragma once

#include <QByteArrayView>
#include <QString>

// One line of a byte dump, as the printer's dump mode prints it and the logs
// show it: each byte in hexadecimal, padded to width bytes, then the bytes as
// Windows-1252 text with anything unprintable shown as '.'.
QString hexDumpLine(QByteArrayView bytes, int width);
