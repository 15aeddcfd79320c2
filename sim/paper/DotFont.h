#pragma once

#include <QChar>
#include <QList>

#include <cstdint>
#include <span>

// The printer's own character set, dot by dot: every character of the code
// page in three fixed-pitch fonts built into the program (DotFontGlyphs.cpp),
// so paper drawn with them is the same on every machine, whatever fonts it
// has. A character outside the code page draws as the replacement mark.
class DotFont {
public:
    struct Data {
        int width;                 // columns of a glyph, its spacing included
        int height;                // rows
        int ascent;                // rows above the baseline
        int digits;                // hexadecimal digits per column
        const char* const* glyphs; // Codes of them, from 0x20
    };
    static constexpr int Codes = 0x100 - 0x20;

    static const DotFont& regular();   // cells of 9 dots and wider (40 and 48 columns)
    static const DotFont& condensed(); // narrower cells (60 columns)
    static const DotFont& note();      // the paper's notes, inside a marker's 10 dots

    int width() const { return width_; }
    int height() const { return height_; }
    int ascent() const { return ascent_; }
    // The character's dot columns, leftmost first, bit 0 the top row.
    std::span<const uint16_t> glyph(QChar ch) const;
    // The code whose glyph draws the character; 0x7F (the replacement mark)
    // for one the code page has not.
    static uint8_t code(QChar ch);

private:
    explicit DotFont(const Data& data);

    int width_;
    int height_;
    int ascent_;
    QList<uint16_t> columns_;
};

namespace DotFontGlyphs {
extern const DotFont::Data regular;
extern const DotFont::Data condensed;
extern const DotFont::Data note;
} // namespace DotFontGlyphs
