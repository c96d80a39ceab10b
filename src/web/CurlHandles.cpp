#include "web/CurlHandles.h"

#include <mutex>
#include <string>

#include "base/LoopbackOwner.h"
#include "os/DiagnosticLog.h"
#include "web/CurlProxy.h"

namespace {

bool IsLoopbackIp(const std::string& ip) {
    return ip.rfind("127.", 0) == 0 || ip == "::1" || ip.rfind("::ffff:127.", 0) == 0;
}

// Checked for every connection, after redirects and name lookups: a loopback server (or
// proxy) that another user runs gets no request, so it can neither read what we send nor
// hand us its files.
// The desktop's proxy for this address; said in full, so libcurl's own reading of the
// environment never contradicts it. When the desktop cannot say, libcurl's defaults stay.
void UseDesktopProxy(CURL* easy, const char* url) {
    const auto proxy = CurlProxyFor(url);
    if (!proxy) return;
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy->c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, proxy->empty() ? "*" : "");
}

int RefuseOtherUsersLoopback(void*, char* primaryIp, char*, int primaryPort, int) {
    if (primaryIp == nullptr || !IsLoopbackIp(primaryIp) || primaryPort <= 0 ||
        LoopbackPortIsTheUsers(static_cast<uint16_t>(primaryPort)))
        return CURL_PREREQFUNC_OK;
    os::LogWarning("request refused: another user serves the loopback port",
                   std::string(primaryIp) + ":" + std::to_string(primaryPort));
    return CURL_PREREQFUNC_ABORT;
}

}  // namespace

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

void SetWebTransferOptions(CURL* easy, const char* url, curl_slist* headers, long stallSeconds) {
    curl_easy_setopt(easy, CURLOPT_URL, url);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &RefuseOtherUsersLoopback);
    UseDesktopProxy(easy, url);
}
