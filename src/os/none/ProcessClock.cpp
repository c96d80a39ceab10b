#include "os/ProcessClock.h"

namespace os {

// Unknown without a platform.
int64_t ProcessStartTime() {
    return 0;
}

}  // namespace os
