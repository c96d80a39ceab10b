#include "os/Proxy.h"

#include <gio/gio.h>

#include <memory>

#include "os/DiagnosticLog.h"

namespace os {

namespace {

struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
struct StrvDeleter {
    void operator()(gchar** list) const { g_strfreev(list); }
};

}  // namespace

std::optional<std::vector<std::string>> ProxiesFor(const std::string& url) {
    // GIO's resolver follows the desktop (GNOME's settings, KDE's through libproxy) and the
    // *_proxy variables, the same source the browser's pages use.
    GProxyResolver* resolver = g_proxy_resolver_get_default();  // owned by GIO
    if (resolver == nullptr) return std::nullopt;
    GError* rawError = nullptr;
    std::unique_ptr<gchar*, StrvDeleter> proxies(
        g_proxy_resolver_lookup(resolver, url.c_str(), nullptr, &rawError));
    std::unique_ptr<GError, ErrorDeleter> error(rawError);
    if (!proxies) {
        LogWarning("proxy lookup failed", url + (error ? std::string(": ") + error->message : ""));
        return std::nullopt;
    }
    std::vector<std::string> list;
    for (gchar** entry = proxies.get(); *entry != nullptr; ++entry) list.emplace_back(*entry);
    return list;
}

}  // namespace os
