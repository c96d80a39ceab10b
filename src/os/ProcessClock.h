#pragma once
#include <cstdint>

namespace os {

// When this process started, in milliseconds since the epoch, known to a clock tick and never
// later than the real start (0 when it cannot be told).
int64_t ProcessStartTime();

}  // namespace os
