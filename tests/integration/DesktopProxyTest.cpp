#include "ChildRun.h"
#include "TempDir.h"
#include "web/HttpDownload.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A loopback proxy, "http" or "socks5" without authentication, that answers every request
// itself. Prints its port, then one line per request it took.
const char* const kProxyScript = R"(
import socket, sys
listener = socket.create_server(("127.0.0.1", 0))
print(listener.getsockname()[1], flush=True)
while True:
    conn, _ = listener.accept()
    with conn, conn.makefile("rb") as f:
        note = ""
        if sys.argv[1] == "socks5":
            f.read(f.read(2)[1]); conn.sendall(b"\5\0")
            size = f.read(5)[4]
            note = "socks5 %s:%d " % (f.read(size).decode(), int.from_bytes(f.read(2), "big"))
            conn.sendall(b"\5\0\0\1" + bytes(6))
        line = f.readline().decode().strip()
        while f.readline() not in (b"\r\n", b""): pass
        print(note + line, flush=True)
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 9\r\nConnection: close\r\n\r\nzip bytes")
)";

// Run in a fresh process of this program, so that GIO picks its resolver afresh: GNOME's
// settings in memory name the proxy; the environment names it too. 77 when GNOME's resolver
// is missing.
int DownloadUnder(const char* mode, const char* kind, int port, const std::string& folder) {
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("GIO_USE_PROXY_RESOLVER", "gnome", 1);
    setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);  // the GNOME resolver serves GNOME sessions only
    const std::string proxy =
        (kind[0] == 'h' ? "http://127.0.0.1:" : "socks5://127.0.0.1:") + std::to_string(port);
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        setenv(name, proxy.c_str(), 1);
    GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        schemas ? g_settings_schema_source_lookup(schemas, "org.gnome.system.proxy", TRUE)
                : nullptr;
    if (schema == nullptr ||
        g_strcmp0(G_OBJECT_TYPE_NAME(g_proxy_resolver_get_default()), "GProxyResolverGnome") != 0)
        return 77;
    GSettings* settings = g_settings_new("org.gnome.system.proxy");
    GSettings* server = g_settings_get_child(settings, kind);
    g_settings_set_string(settings, "mode", mode);
    g_settings_set_string(server, "host", "127.0.0.1");
    g_settings_set_int(server, "port", port);
    // A name that resolves nowhere: only the proxy can fetch it.
    return DownloadToFolder("http://origin.invalid/pkg/tool.zip", folder);
}

// DownloadUnder's result in a fresh process. GIO keeps the proxy resolver and the settings
// backend it first made for the whole process, also across a fork: in a process where an
// earlier test had made them, GNOME's resolver never came.
int DownloadInAFreshProcess(const char* mode, const char* kind, int port,
                            const std::string& folder) {
    const auto outcome = testsupport::RunChild(
        {"/proc/self/exe", "--gtest_filter=DesktopProxyInAFreshProcess.*"}, 60s,
        {{"MAPLENOOK_TEST_PROXY_MODE", mode},
         {"MAPLENOOK_TEST_PROXY_KIND", kind},
         {"MAPLENOOK_TEST_PROXY_PORT", std::to_string(port)},
         {"MAPLENOOK_TEST_PROXY_FOLDER", folder}});
    const std::string mark = "download result: ";
    const auto at = outcome.output.find(mark);
    EXPECT_NE(at, std::string::npos) << outcome.output;
    return at == std::string::npos ? -1 : std::atoi(outcome.output.c_str() + at + mark.size());
}

// `proxyUser`: the proxy runs as that user (a system account's squid or tor), else as ours.
void ExpectTheDesktopsChoice(const char* proxyKind, const char* settingsKind,
                             const std::string& expectedRequest, const char* proxyUser = nullptr) {
    std::vector<std::string> command{"python3", "-c", kProxyScript, proxyKind};
    if (proxyUser != nullptr) {
        command[0] = "/usr/bin/python3";  // root's PATH may name a python the user cannot run
        command.insert(command.begin(), {"setpriv", std::string("--reuid=") + proxyUser,
                                         std::string("--regid=") + proxyUser, "--clear-groups"});
    }
    testsupport::ChildProcess proxy(command);
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return proxy.Output().find('\n') != std::string::npos; }, 20s));
    const int port = std::stoi(proxy.Output());
    testsupport::TempDir folder;
    const int proxied = DownloadInAFreshProcess("manual", settingsKind, port, folder.path());
    if (proxied == 77)
        GTEST_SKIP() << "no GNOME proxy resolver (glib-networking) or org.gnome.system.proxy";
    EXPECT_EQ(proxied, 1);
    EXPECT_EQ(testsupport::ReadFile(folder.File("tool.zip")), "zip bytes");
    // The desktop says "no proxy": libcurl must not take the environment's instead.
    EXPECT_EQ(DownloadInAFreshProcess("none", settingsKind, port, folder.File("none")), 0);
    EXPECT_EQ(proxy.Output(), std::to_string(port) + "\n" + expectedRequest + "\n");
}

}  // namespace

TEST(DesktopProxy, DownloadsGoThroughTheProxyTheDesktopNamesAndOnlyThen) {
    ExpectTheDesktopsChoice("http", "http", "GET http://origin.invalid/pkg/tool.zip HTTP/1.1");
    // SOCKS 5 gets the name, to resolve it at the proxy.
    ExpectTheDesktopsChoice("socks5", "socks",
                            "socks5 origin.invalid:80 GET /pkg/tool.zip HTTP/1.1");
}

TEST(DesktopProxy, AProxyTheUserNamedServesRemoteAddressesWhoeverRunsIt) {
    if (geteuid() != 0) GTEST_SKIP() << "cannot run the proxy as uid 65534 here (not root)";
    ExpectTheDesktopsChoice("http", "http", "GET http://origin.invalid/pkg/tool.zip HTTP/1.1",
                            "65534");
}

// The download of the tests above, in the process they start; skipped anywhere else.
TEST(DesktopProxyInAFreshProcess, Download) {
    const char* mode = std::getenv("MAPLENOOK_TEST_PROXY_MODE");
    const char* kind = std::getenv("MAPLENOOK_TEST_PROXY_KIND");
    const char* port = std::getenv("MAPLENOOK_TEST_PROXY_PORT");
    const char* folder = std::getenv("MAPLENOOK_TEST_PROXY_FOLDER");
    if (mode == nullptr || kind == nullptr || port == nullptr || folder == nullptr)
        GTEST_SKIP() << "runs only in the process DesktopProxy.* starts";
    std::printf("download result: %d\n", DownloadUnder(mode, kind, std::atoi(port), folder));
}
