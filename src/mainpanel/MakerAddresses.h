#pragma once
#include <string>

// The maker's addresses this build was configured with; test builds let end-to-end tests point
// them at their own loopback server (MAPLENOOK_TEST_PAGE_URL, MAPLENOOK_TEST_STATS_URL).

// The main page the panel loads.
std::string MainPageAddress();
// The statistics server's base address, without a trailing "/".
std::string StatsServerAddress();
