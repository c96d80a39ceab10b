#include "web/CurlHandles.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "base/LoopbackOwner.h"
#include "os/DiagnosticLog.h"
#include "web/CurlProxy.h"

namespace {

bool IsLoopbackIp(const std::string& ip) {
    // 0.0.0.0 and :: connect to this machine as well.
    return ip.rfind("127.", 0) == 0 || ip == "::1" || ip.rfind("::ffff:127.", 0) == 0 ||
           ip == "0.0.0.0" || ip == "::" || ip == "::ffff:0.0.0.0";
}

// Loopback never goes through a proxy: a proxy would reach its own machine's loopback, past
// the check of who serves the port. CIDR entries need libcurl 7.86.
constexpr const char* kLoopbackNoProxy = "localhost,127.0.0.0/8,::1,0.0.0.0";

// The desktop's proxy for this address; said in full, so libcurl's own reading of the
// environment never contradicts it. When the desktop cannot say, libcurl reads the
// environment, with loopback kept out of it all the same.
void UseDesktopProxy(CURL* easy, const char* url) {
    const auto proxy = CurlProxyFor(url);
    std::string noProxy = kLoopbackNoProxy;
    if (proxy) {
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy->c_str());
        if (proxy->empty()) noProxy = "*";
    } else {
        for (const char* name : {"no_proxy", "NO_PROXY"}) {
            const char* listed = std::getenv(name);
            if (listed != nullptr && *listed != '\0') {
                noProxy += std::string(",") + listed;
                break;
            }
        }
    }
    curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.c_str());
}

// The port of "scheme://[user@]host:port[/]", the proxy spelling of libcurl and the
// environment; 0 when none is written.
int ProxyPort(const std::string& proxy) {
    const size_t start = proxy.find("://");
    std::string authority = proxy.substr(start == std::string::npos ? 0 : start + 3);
    authority = authority.substr(0, authority.find('/'));
    const size_t colon = authority.rfind(':');
    if (colon == std::string::npos || authority.find(']', colon) != std::string::npos) return 0;
    const std::string digits = authority.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoi(digits);
}

// Whether the connection to `port` on loopback is the one to the proxy this transfer goes
// through, rather than to the address itself. Only an address that is not loopback by name
// goes through a proxy at all (see kLoopbackNoProxy).
bool IsTheTransfersProxy(const std::string& effectiveUrl, int port) {
    if (LoopbackPortOf(effectiveUrl)) return false;
    if (const auto proxy = CurlProxyFor(effectiveUrl)) return ProxyPort(*proxy) == port;
    const bool https = effectiveUrl.rfind("https:", 0) == 0;
    for (const char* name : {https ? "https_proxy" : "http_proxy", https ? "HTTPS_PROXY" : "",
                             "all_proxy", "ALL_PROXY"}) {
        const char* proxy = *name != '\0' ? std::getenv(name) : nullptr;
        if (proxy != nullptr && *proxy != '\0') return ProxyPort(proxy) == port;
    }
    return false;
}

// Checked for every connection, after redirects and name lookups: a loopback server that
// another user runs gets no request, so it can neither read what we send nor hand us its
// files. A proxy the user chose is the user's choice, whoever runs it.
// The transfer of this thread the check last refused: libcurl calls the check on the thread
// that performs the transfer.
thread_local const void* t_refused = nullptr;

int RefuseOtherUsersLoopback(void* easy, char* primaryIp, char*, int primaryPort, int) {
    if (primaryIp == nullptr || !IsLoopbackIp(primaryIp) || primaryPort <= 0 ||
        LoopbackPortIsTheUsers(static_cast<uint16_t>(primaryPort)))
        return CURL_PREREQFUNC_OK;
    const char* effective = nullptr;
    curl_easy_getinfo(static_cast<CURL*>(easy), CURLINFO_EFFECTIVE_URL, &effective);
    if (effective != nullptr && IsTheTransfersProxy(effective, primaryPort))
        return CURL_PREREQFUNC_OK;
    os::LogWarning("request refused: another user serves the loopback port",
                   std::string(primaryIp) + ":" + std::to_string(primaryPort));
    t_refused = easy;
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

bool RefusedAsAnotherUsers(CURL* easy) {
    return t_refused == easy;
}

void SetWebTransferOptions(CURL* easy, const char* url, curl_slist* headers, long stallSeconds) {
    if (t_refused == easy) t_refused = nullptr;
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
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, easy);
    UseDesktopProxy(easy, url);
}
