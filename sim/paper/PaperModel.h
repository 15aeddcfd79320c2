#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>

// What the virtual printer has put on its paper roll, as data a test can check
// and the renderer can draw. Text lines keep every character with the print
// mode it was printed in; user-defined characters carry their dot columns,
// copied when printed, so a later download does not change printed paper.

struct PrintStyle {
    bool wide = false; // expanded: each character takes two columns
    bool bold = false;
    bool operator==(const PrintStyle&) const = default;
};

using GlyphColumns = std::array<uint8_t, 9>; // bit 0 the top dot, leftmost column first

struct PaperCell {
    QChar ch;         // the character as Windows-1252 decodes its code
    uint8_t code = 0; // the byte received
    PrintStyle style;
    bool userDefined = false; // drawn from columns instead of the font
    GlyphColumns columns{};
};

struct TextRun {
    QString text;
    PrintStyle style;
    bool operator==(const TextRun&) const = default;
};

struct PaperLine {
    enum class Kind {
        Text,           // a printed text line (empty for a blank feed)
        Authentication, // a validation line printed for a device
        Image,          // one 8-dot bit-image row
        Marker,         // an event on the roll that prints nothing: page end, drawer, reset
    };
    Kind kind = Kind::Text;
    int columnsPerLine = 48; // the width the line was printed at
    QList<PaperCell> cells;  // Text and Authentication
    QString note;            // Marker text; the device of an Authentication line
    // Image: one byte per dot column at the head's full resolution (bit 0 the
    // top dot); a single-density column has already been doubled.
    QByteArray dots;

    QString text() const;
    // Consecutive cells of the same style; user characters read as U+FFFC.
    QList<TextRun> runs() const;
};

class PaperRoll {
public:
    // Dot columns across the paper for the head: 48 character cells of nine
    // dots, a user character's width, so user characters side by side join
    // up. A double-density bit image may use every one of them; a
    // single-density column takes two.
    static constexpr int HeadDots = 432;
    // The head's dot pitch, the same across and down: its dots span 63.5 mm
    // (2.5 in) of the 76 mm roll, 172.8 dots to the inch.
    static constexpr double HeadDotsPerInch = HeadDots / 2.5;
    // The roll in memory (what the window shows) keeps this many lines; older
    // ones are torn off. tellumo-printer writes its files from a spool of
    // every line instead.
    static constexpr int MaxLines = 20000;

    void append(PaperLine line);
    void clear();
    const QList<PaperLine>& lines() const { return lines_; }
    // Lines torn off the top since the roll was cleared.
    int tornOff() const { return tornOff_; }

private:
    QList<PaperLine> lines_;
    int tornOff_ = 0;
};
