#include "protocol/ParameterRules.h"

#include "protocol/CommandBytes.h"

#include <climits>

namespace Commands {

namespace {
bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}
} // namespace

int decimalToInt(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulate the magnitude in 64 bits and stop growing once it is past
    // what either end of int can hold.
    constexpr long long Limit = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        if (magnitude > Limit)
            magnitude = Limit;
    }
    if (negative)
        return static_cast<int>(-magnitude);
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

uint8_t pageSizeParameter(int value) {
    return value >= MinPageSize && value <= MaxPageSize ? static_cast<uint8_t>(value)
                                                        : SubstitutePageSize;
}

uint8_t lineFeedParameter(int value) {
    return static_cast<uint8_t>(static_cast<unsigned>(value) & 0xFFu);
}

} // namespace Commands
