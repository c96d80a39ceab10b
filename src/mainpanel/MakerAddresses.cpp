#include "mainpanel/MakerAddresses.h"

#include <cstdlib>

#include "BuildConfig.h"

namespace {

std::string MakerAddress(const char* testVariable, const std::string& built) {
#if MAPLENOOK_TEST_HOOKS
    if (const char* value = std::getenv(testVariable); value != nullptr && *value != '\0')
        return value;
#else
    (void)testVariable;
#endif
    return built;
}

}  // namespace

std::string MainPageAddress() {
    return MakerAddress("MAPLENOOK_TEST_PAGE_URL", MAPLENOOK_PAGE_URL);
}

std::string StatsServerAddress() {
    return MakerAddress("MAPLENOOK_TEST_STATS_URL", MAPLENOOK_STATS_URL);
}
