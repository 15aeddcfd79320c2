#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

// How long one byte takes on the wire at this rate: ten bit times (start bit,
// eight data bits, stop bit), whatever the frame, as the line's pacing and its
// drain waits count it. A rate of zero counts as one bit a second.
inline std::chrono::nanoseconds byteTimeAt(uint32_t baudRate) {
    return std::chrono::nanoseconds(10'000'000'000LL / std::max<uint32_t>(baudRate, 1));
}
