#pragma once

#include "sim/paper/PaperModel.h"

#include <QList>
#include <QString>

// The paper as plain text, for checking what a program printed against a
// golden file: one line per line on the roll, each ending in '\n'. What the
// text cannot carry is marked in place:
//   a user-defined character   {B0}  (its code in hexadecimal)
//   print modes                {W} expanded, {E} emphasized, {WE} both, {N}
//                              normal again; each line starts normal
//   a bit-image row            [imagem 128 pontos crc CD0E]  (dot columns, CRC-16 of the dots)
//   an authentication line     [autenticação Título] followed by its text
//   marks that print nothing   [gaveta aberta], [fim de página], [reset], [modo dump]
//   the text line not ended    [linha não terminada] followed by its text
// A '{' in the data is written "{{", and a data line that starts with '['
// starts with "[[", so no data can pass for a marker.
QString paperTextLine(const PaperLine& line);
QString paperText(const QList<PaperLine>& lines);
// The note for a text line still waiting for its line feed; empty when none.
QString unfinishedLineText(const PaperLine& line);
