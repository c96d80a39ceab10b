#include "web/CurlHandles.h"

#include <mutex>

bool EnsureCurlReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

bool AppendHeader(CurlHeaderList& list, const char* line) {
    curl_slist* grown = curl_slist_append(list.get(), line);
    if (grown == nullptr) return false;
    // curl_slist_append returns the same head once the list exists.
    list.release();
    list.reset(grown);
    return true;
}
