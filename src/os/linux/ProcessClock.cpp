#include "os/ProcessClock.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

namespace os {

int64_t ProcessStartTime() {
    // Field 22 of /proc/self/stat: clock ticks from boot to the start; the clocks give now.
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    timespec now{}, sinceBoot{};
    if (field.empty() || ticksPerSecond <= 0 || clock_gettime(CLOCK_REALTIME, &now) != 0 ||
        clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0) {
        return 0;
    }
    const int64_t startedAfterBootMs =
        static_cast<int64_t>(std::strtoull(field.c_str(), nullptr, 10)) * 1000 / ticksPerSecond;
    const int64_t nowMs = now.tv_sec * 1000LL + now.tv_nsec / 1000000;
    const int64_t bootMs = sinceBoot.tv_sec * 1000LL + sinceBoot.tv_nsec / 1000000;
    return nowMs - (bootMs - startedAfterBootMs);
}

}  // namespace os
