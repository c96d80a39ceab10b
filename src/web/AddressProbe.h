#pragma once
#include <string>

// Whether a page address answers now, asked as every transfer of the program is asked: a
// loopback address another user serves gets nothing.
enum class ProbeOutcome {
    Answered,  // an answer of 2xx or 3xx
    Offline,   // nothing answered, or an error answer: a load would fail
    Refused,   // another user serves the loopback address (or the one it redirects to)
};

// One GET of `url` (body discarded, 15 seconds at most). Blocks: call on a worker.
ProbeOutcome ProbeAddress(const std::string& url);

// The outcome's name as the page hears it: "ok", "offline", "refused".
const char* ProbeOutcomeName(ProbeOutcome outcome);
