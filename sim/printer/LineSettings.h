#pragma once

#include <QString>

class VirtualPrinter;

#include <cstdint>
#include <optional>

// A serial line's settings as people write them: "9600,8N1" (rate, data
// bits, parity N E O M S, stop bits 1, 1.5 or 2). The printer has its own;
// a program that talks to it with others sends it noise.
struct LineSettings {
    uint32_t rate = 9600;
    uint8_t dataBits = 8;
    char parity = 'N';
    uint8_t halfStopBits = 2; // 2 one, 3 one and a half, 4 two
    static constexpr uint32_t MaxRate = 4'000'000;

    // Nothing for anything else, a rate of 0 or over 4 Mbit/s included.
    static std::optional<LineSettings> parse(const QString& text);
    QString text() const;
    bool operator==(const LineSettings&) const = default;
};

// Bytes came at the client's settings, not the printer's: the warning a
// port logs once, as line-mismatch, with both settings.
void warnLineMismatch(VirtualPrinter& printer, const LineSettings& client,
                      const LineSettings& line);
