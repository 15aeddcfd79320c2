#pragma once

#include "sim/PaperModel.h"

#include <QList>
#include <QString>

// The paper as plain text, for checking what a program printed against a
// golden file: one line per printed line, each ending in '\n'. What the text
// cannot carry is marked in place:
//   a user-defined character   {B0}  (its code in hexadecimal)
//   a bit-image row            [imagem 128 pontos crc CD0E]  (dot columns, CRC-16 of the dots)
//   an authentication line     [autenticação Título] followed by its text
// Marks on the roll that print nothing (page end, drawer, reset) are left out.
QString paperText(const QList<PaperLine>& lines);
