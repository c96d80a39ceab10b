#include <gio/gunixfdlist.h>

#include <map>
#include <mutex>

#include "BuildConfig.h"

#include <cstdlib>
#include "os/Files.h"
#include "os/Proxy.h"
#include "os/linux/BridgeProtocol.h"
#include "os/linux/WebHost.h"

namespace os {
namespace {

std::mutex g_resourcesLock;

std::map<int, EmbeddedResource>& Resources() {
    static std::map<int, EmbeddedResource> resources;
    return resources;
}

std::string& ExtensionsDirectorySetting() {
    static std::string directory;
    return directory;
}

std::string ExtensionsDirectory() {
    if (!ExtensionsDirectorySetting().empty()) return ExtensionsDirectorySetting();
    const std::string exe = ExecutablePath();
    return exe.substr(0, exe.rfind('/')) + "/webext";
}

void OnInitializeWebExtensions(WebKitWebContext* context, gpointer) {
    const std::string directory = ExtensionsDirectory();
    webkit_web_context_set_web_extensions_directory(context, directory.c_str());
    webkit_web_context_set_web_extensions_initialization_user_data(
        context, g_variant_new("(b)", MAPLENOOK_TEST_HOOKS ? TRUE : FALSE));
}

gboolean OnUserMessage(WebKitWebContext*, WebKitUserMessage* message, gpointer) {
    if (g_strcmp0(webkit_user_message_get_name(message), bridge::kConnectMessage) != 0) {
        return FALSE;
    }
    GUnixFDList* fds = webkit_user_message_get_fd_list(message);
    if (fds != nullptr && g_unix_fd_list_get_length(fds) == 1) {
        const int fd = g_unix_fd_list_get(fds, 0, nullptr);  // a duplicate we own
        if (fd >= 0) detail::ServeBridgeSocket(fd);
    }
    return TRUE;
}

// res://<executable>/<number>: the program's embedded page of that number.
void OnResRequest(WebKitURISchemeRequest* request, gpointer) {
    const std::string path = webkit_uri_scheme_request_get_path(request);
    const std::string last = path.substr(path.rfind('/') + 1);
    std::optional<EmbeddedResource> found;
    try {
        size_t used = 0;
        const int id = std::stoi(last, &used);
        std::lock_guard lock(g_resourcesLock);
        if (used == last.size()) {
            if (auto it = Resources().find(id); it != Resources().end()) found = it->second;
        }
    } catch (const std::exception&) {
    }
    if (!found) {
        GError* error =
            g_error_new(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "no resource %s", last.c_str());
        webkit_uri_scheme_request_finish_error(request, error);
        g_error_free(error);
        return;
    }
    GBytes* bytes = g_bytes_new(found->bytes.data(), found->bytes.size());
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    webkit_uri_scheme_request_finish(request, stream, static_cast<gint64>(found->bytes.size()),
                                     found->mimeType.c_str());
    g_object_unref(stream);
    g_bytes_unref(bytes);
}

// The desktop's first proxy for addresses of `scheme` in general, as WebKit spells it; empty
// for a direct route or when the desktop cannot say.
std::string DesktopProxyForScheme(const char* scheme) {
    const auto proxies = ProxiesFor(std::string(scheme) + "://maker.example/");
    if (!proxies) return {};
    for (const std::string& proxy : *proxies) {
        if (proxy.rfind("direct://", 0) == 0) return {};
        if (proxy.find("://") != std::string::npos) return proxy;
    }
    return {};
}

// Loopback never goes through a proxy: the page judged must be the one the loopback server
// sent, not a proxy's. WebKit takes either the system's settings or its own list; the list
// names the desktop's proxy for other addresses, read once here, with loopback kept out.
void KeepLoopbackDirect(WebKitWebContext* context) {
    static const char* const kDirect[] = {"localhost", "127.0.0.0/8", "::1", "0.0.0.0", nullptr};
    const std::string http = DesktopProxyForScheme("http");
    const std::string https = DesktopProxyForScheme("https");
    WebKitNetworkProxySettings* settings =
        webkit_network_proxy_settings_new(http.empty() ? nullptr : http.c_str(), kDirect);
    if (https != http) {
        webkit_network_proxy_settings_add_proxy_for_scheme(
            settings, "https", https.empty() ? "direct://" : https.c_str());
    }
    webkit_website_data_manager_set_network_proxy_settings(
        webkit_web_context_get_website_data_manager(context), WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
        settings);
    webkit_network_proxy_settings_free(settings);
}

}  // namespace

void SetWebExtensionsDirectory(const std::string& directory) {
    ExtensionsDirectorySetting() = directory;
}

void RegisterEmbeddedResource(int id, EmbeddedResource resource) {
    std::lock_guard lock(g_resourcesLock);
    Resources()[id] = std::move(resource);
}

namespace detail {

WebKitWebContext* WebContextFor(const std::string& dataFolder) {
    static std::map<std::string, WebKitWebContext*> contexts;
    if (auto it = contexts.find(dataFolder); it != contexts.end()) return it->second;
    WebKitWebContext* context = nullptr;
    if (dataFolder.empty()) {
        context = webkit_web_context_new();
    } else {
        const std::string cache = dataFolder + "/cache";
        WebKitWebsiteDataManager* manager = WEBKIT_WEBSITE_DATA_MANAGER(
            g_object_new(WEBKIT_TYPE_WEBSITE_DATA_MANAGER, "base-data-directory",
                         dataFolder.c_str(), "base-cache-directory", cache.c_str(), nullptr));
        context = webkit_web_context_new_with_website_data_manager(manager);
        g_object_unref(manager);
    }
    KeepLoopbackDirect(context);
    g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(OnInitializeWebExtensions),
                     nullptr);
    g_signal_connect(context, "user-message-received", G_CALLBACK(OnUserMessage), nullptr);
    webkit_web_context_register_uri_scheme(context, "res", OnResRequest, nullptr, nullptr);
    // Inside the sandbox the web process sees only listed folders; without this the
    // extension silently fails to load.
    if (webkit_web_context_get_sandbox_enabled(context)) {
        webkit_web_context_add_path_to_sandbox(context, ExtensionsDirectory().c_str(), TRUE);
    }
#if MAPLENOOK_TEST_HOOKS
    // Test builds let an end-to-end test serve https with a certificate it made itself; the
    // shipped program trusts only the system's authorities.
    const char* certificate = std::getenv("MAPLENOOK_TEST_TLS_CERT");
    const char* host = std::getenv("MAPLENOOK_TEST_TLS_HOST");
    if (certificate != nullptr && host != nullptr) {
        if (GTlsCertificate* tls = g_tls_certificate_new_from_file(certificate, nullptr)) {
            webkit_web_context_allow_tls_certificate_for_host(context, tls, host);
            g_object_unref(tls);
        }
    }
#endif
    contexts.emplace(dataFolder, context);
    return context;
}

}  // namespace detail
}  // namespace os
