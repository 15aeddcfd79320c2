#pragma once

#include "link/comport/lines/network/NetworkAddress.h"

#include <chrono>

class LineOpening;

// Reaching a network line's server: the name looked up without holding the
// window, then its addresses tried in order, each started 250 ms after the
// one before (RFC 8305), the first to answer taken, all before the deadline.
namespace NetworkConnect {

// The connected socket (non-blocking, its options set), or -1 with why in
// failure (the cause of the last address tried); -1 and None when cancelled.
int reach(const NetworkAddress& where, std::chrono::steady_clock::time_point deadline,
          LineOpening* opening, NetworkFailure& failure);

} // namespace NetworkConnect
