#include "sim/paper/DotFont.h"

#include "protocol/Windows1252.h"

#include <charconv>

namespace {
constexpr int FirstCode = 0x20;
constexpr int Replacement = 0x7F;
} // namespace

DotFont::DotFont(const Data& data)
    : width_(data.width), height_(data.height), ascent_(data.ascent) {
    columns_.reserve(Codes * width_);
    for (int code = 0; code < Codes; ++code) {
        for (int c = 0; c < width_; ++c) {
            const char* hex = data.glyphs[code] + c * data.digits;
            uint16_t column = 0;
            std::from_chars(hex, hex + data.digits, column, 16);
            columns_.append(column);
        }
    }
}

const DotFont& DotFont::regular() {
    static const DotFont font(DotFontGlyphs::regular);
    return font;
}

const DotFont& DotFont::condensed() {
    static const DotFont font(DotFontGlyphs::condensed);
    return font;
}

const DotFont& DotFont::note() {
    static const DotFont font(DotFontGlyphs::note);
    return font;
}

uint8_t DotFont::code(QChar ch) {
    const char16_t u = ch.unicode();
    if (u >= FirstCode && u <= 0xFF && (u < Replacement || u >= 0xA0))
        return uint8_t(u);
    for (int b = 0x80; b < 0xA0; ++b)
        if (Windows1252::decodeByte(uint8_t(b)) == ch)
            return uint8_t(b);
    return Replacement;
}

std::span<const uint16_t> DotFont::glyph(QChar ch) const {
    return std::span<const uint16_t>(columns_).subspan((code(ch) - FirstCode) * width_, width_);
}
