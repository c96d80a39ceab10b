#include "ChildRun.h"
#include "LoopbackHttp.h"
#include "TempDir.h"
#include "web/HttpDownload.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

using namespace std::chrono_literals;

namespace {

constexpr int kNoGnomeResolver = 77;

// tests/support/relay_proxy.py: relays every request to the origin's port, logging each one.
class RelayProxy {
  public:
    RelayProxy(const std::string& mode, int originPort) {
        process_ = std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{
            "python3", std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/tests/support/relay_proxy.py",
            mode, std::to_string(originPort), state_.File("relay")});
        testsupport::WaitUntil([&] { return std::filesystem::exists(state_.File("relay.port")); },
                               20s);
        const std::string port = testsupport::ReadFile(state_.File("relay.port"));
        port_ = port.empty() ? 0 : std::stoi(port);
    }
    int port() const { return port_; }
    std::vector<std::string> Relayed() const {
        std::istringstream log(testsupport::ReadFile(state_.File("relay.log")));
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }

  private:
    testsupport::TempDir state_;
    std::unique_ptr<testsupport::ChildProcess> process_;
    int port_ = 0;
};

// In a child, so that GIO picks its resolver and settings afresh: GNOME's proxy settings, kept
// in memory, in `mode` with `kind` ("http" or "socks") at the relay; then one download.
// `environmentProxy` is also put in the *_proxy variables, which the desktop's word overrides.
int DownloadUnderDesktopSettings(const std::string& mode, const std::string& kind, int port,
                                 const std::string& url, const std::string& folder,
                                 const std::string& environmentProxy = {}) {
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("GIO_USE_PROXY_RESOLVER", "gnome", 1);
    setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);  // the GNOME resolver serves GNOME sessions only
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (environmentProxy.empty())
            unsetenv(name);
        else
            setenv(name, environmentProxy.c_str(), 1);
    }
    GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        schemas ? g_settings_schema_source_lookup(schemas, "org.gnome.system.proxy", TRUE)
                : nullptr;
    if (schema == nullptr) return kNoGnomeResolver;
    g_settings_schema_unref(schema);
    if (g_strcmp0(G_OBJECT_TYPE_NAME(g_proxy_resolver_get_default()), "GProxyResolverGnome") != 0)
        return kNoGnomeResolver;

    GSettings* proxy = g_settings_new("org.gnome.system.proxy");
    g_settings_set_string(proxy, "mode", mode.c_str());
    GSettings* server = g_settings_get_child(proxy, kind.c_str());
    g_settings_set_string(server, "host", "127.0.0.1");
    g_settings_set_int(server, "port", port);
    g_settings_sync();
    g_object_unref(server);
    g_object_unref(proxy);
    return DownloadToFolder(url, folder);
}

// The origin answers under a name that does not resolve here: only a proxy can reach it.
void DownloadGoesThroughTheDesktopsProxy(const std::string& relayMode, const std::string& kind) {
    loopback::HttplibServer origin;
    origin.server.Get("/pkg/tool.zip", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("zip bytes", "application/zip");
    });
    ASSERT_TRUE(origin.Start());
    const std::string originPort = origin.BaseUrl().substr(origin.BaseUrl().rfind(':') + 1);
    RelayProxy relay(relayMode, std::stoi(originPort));
    ASSERT_NE(relay.port(), 0) << "the relay did not start";
    testsupport::TempDir folder;
    const std::string url = "http://origin.invalid:" + originPort + "/pkg/tool.zip";

    const auto proxied = testsupport::RunInChild(
        [&] {
            return DownloadUnderDesktopSettings("manual", kind, relay.port(), url, folder.path());
        },
        60s);
    if (proxied.exited && proxied.exitCode == kNoGnomeResolver)
        GTEST_SKIP() << "GLib's GNOME proxy resolver (glib-networking) or the "
                        "org.gnome.system.proxy schema is not installed";
    EXPECT_EQ(proxied.exitCode, 1);
    EXPECT_EQ(testsupport::ReadFile(folder.File("tool.zip")), "zip bytes");
    // An http proxy gets the whole address; a SOCKS 5 one the name, to resolve it there.
    const std::string relayed =
        relayMode == "http" ? "http GET " + url : "socks5 origin.invalid:" + originPort;
    EXPECT_EQ(relay.Relayed(), std::vector<std::string>{relayed});

    // Loopback addresses never go through a proxy.
    const auto loopbackOrigin = testsupport::RunInChild(
        [&] {
            return DownloadUnderDesktopSettings("manual", kind, relay.port(),
                                                origin.BaseUrl() + "/pkg/tool.zip",
                                                folder.File("direct"));
        },
        60s);
    EXPECT_EQ(loopbackOrigin.exitCode, 1);

    // The desktop says "no proxy": libcurl must not take the environment's instead.
    const std::string relayUrl = (kind == "http" ? "http://127.0.0.1:" : "socks5://127.0.0.1:") +
                                 std::to_string(relay.port());
    const auto direct = testsupport::RunInChild(
        [&] {
            return DownloadUnderDesktopSettings("none", kind, relay.port(), url,
                                                folder.File("none"), relayUrl);
        },
        60s);
    EXPECT_TRUE(direct.exited);
    EXPECT_EQ(direct.exitCode, 0);
    EXPECT_EQ(relay.Relayed().size(), 1u);
}

}  // namespace

TEST(DesktopProxy, DownloadGoesThroughTheHttpProxyTheDesktopNames) {
    DownloadGoesThroughTheDesktopsProxy("http", "http");
}

TEST(DesktopProxy, DownloadGoesThroughTheSocksProxyTheDesktopNames) {
    DownloadGoesThroughTheDesktopsProxy("socks5", "socks");
}
