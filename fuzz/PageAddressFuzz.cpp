// Page addresses as a hostile page or settings file writes them: the canonical spelling must be
// its own canonical spelling, and two spellings the same address must stay so however they are
// written again.
//
// Input: the address text.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Ipv4Text.h"
#include "web/AddressSpelling.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    const std::string once = CanonicalAddress(url);
    if (CanonicalAddress(once) != once || !SameAddress(url, once)) {
        std::fprintf(stderr, "canonical address not stable: [%s] -> [%s] -> [%s]\n", url.c_str(),
                     once.c_str(), CanonicalAddress(once).c_str());
        std::abort();
    }
    if (const auto v4 = ParseIpv4Host(url)) {
        if (ParseIpv4Host(Ipv4Text(*v4)) != v4) std::abort();
    }
    return 0;
}
