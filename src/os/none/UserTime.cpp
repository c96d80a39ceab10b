#include "os/UserTime.h"

namespace os {

// Unknown without a platform (0: now).
unsigned long StartingUserTime() {
    return 0;
}

}  // namespace os
