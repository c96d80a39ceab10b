// Who serves a loopback port decides whether the program may trust it: the real listener
// tables, with a socket of this user's and one of another user's.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>

#include "FakeWebView.h"
#include "ForeignListener.h"
#include "LoopbackHttp.h"
#include "PrivateNetwork.h"
#include "TempDir.h"
#include "base/LoopbackOwner.h"
#include "os/PanelEventCodes.h"
#include "os/linux/TcpListenerTables.h"
#include "web/HttpDownload.h"
#include "web/PageBridge.h"

namespace {

// Whether a page of `url`, the main page's own address, may run a command through the bridge.
bool PageMayCall(const std::string& url) {
    testsupport::FakeWebView view;  // outlives the bridge attached to it
    PageBridge bridge(url, "/opt/nook");
    bool ran = false;
    bridge.AddCommandSet([&](PageCommand&) { return ran = true; });
    bridge.Attach(view);
    view.LoadUri(url);
    view.Call(url, "app:app.run&/bin/sh");
    return ran;
}

// A listening socket on 127.0.0.1 (or ::1) at `port`, or a free one when it is 0; -1 on failure.
int ListenOnLoopback(bool ipv6, uint16_t& port) {
    const int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ipv6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_addr = in6addr_loopback;
        address->sin6_port = htons(port);
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address->sin_port = htons(port);
        length = sizeof *address;
    }
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        listen(fd, 1) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return -1;
    port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return fd;
}

TEST(LoopbackOwner, OnlyAPortEveryListenerOfWhichIsTheUsersIsTrusted) {
    for (const bool ipv6 : {false, true}) {
        uint16_t port = 0;
        const int fd = ListenOnLoopback(ipv6, port);
        ASSERT_GE(fd, 0);
        const std::string host = ipv6 ? "[::1]" : "LOCALHOST";
        const auto listeners = os::ListTcpListeners(port);
        if (ipv6 && listeners.empty()) {
            // Some sandboxes report no IPv6 listening sockets; the program then refuses
            // ::1 pages, which is the safe side, and there is nothing here to compare.
            std::cerr << "note: no listening ::1 socket is reported here\n";
            close(fd);
            continue;
        }
        std::string seen;
        for (const auto& listener : listeners)
            seen += " uid " + std::to_string(listener.uid) +
                    (listener.reachableOnLoopback ? " (loopback)" : " (elsewhere)");
        // Both sources of the listeners agree: the socket diagnostics and /proc's tables.
        const auto fromTables = os::ListTcpListenersFromTables(port);
        if (!(ipv6 && fromTables.empty())) {
            ASSERT_EQ(fromTables.size(), listeners.size()) << seen;
        }
        for (size_t i = 0; i < fromTables.size(); ++i) {
            EXPECT_EQ(fromTables[i].uid, listeners[i].uid);
            EXPECT_EQ(fromTables[i].reachableOnLoopback, listeners[i].reachableOnLoopback);
        }
        EXPECT_TRUE(LoopbackPortIsTheUsers(port))
            << (ipv6 ? "::1" : "127.0.0.1") << " port " << port << ", euid "
            << os::EffectiveUserId() << ", listeners:" << seen;
        EXPECT_TRUE(PageMayCall("http://" + host + ":" + std::to_string(port) + "/Brush.html"));
        EXPECT_TRUE(AddressMayBeUsed("http://" + host + ":" + std::to_string(port) + "/p"));
        close(fd);
        // Nobody there: whoever binds it next is unknown.
        EXPECT_FALSE(AddressMayBeUsed("http://127.0.0.1:" + std::to_string(port) + "/p"));
    }
    EXPECT_TRUE(AddressMayBeUsed("https://maker.example/Brush.html"));
    EXPECT_EQ(LoopbackPortOf("https://127.3.4.5/x"), 443);
    EXPECT_EQ(LoopbackPortOf("http://u@[::1]:8080"), 8080);
    EXPECT_EQ(LoopbackPortOf("http://127.0.0.1.maker.example/"), std::nullopt);
    EXPECT_EQ(LoopbackPortOf("http://127.0.0.1:99999/"), std::nullopt);
    EXPECT_EQ(LoopbackPortOf("http://127.1:8080/"), 8080);
    EXPECT_EQ(LoopbackPortOf("http://0x7f000001/"), 80);
    EXPECT_EQ(LoopbackPortOf("http://0.0.0.0:81/"), 81);
    EXPECT_EQ(LoopbackPortOf("http://[::]:82/"), 82);
}

TEST(LoopbackOwner, APortAnotherUserServesIsNotTrusted) {
    testsupport::ForeignListener other;
    if (!other.Started()) GTEST_SKIP() << "cannot run a listener as uid 65534 here (not root?)";
    const std::string base = "http://127.0.0.1:" + std::to_string(other.Port());
    EXPECT_FALSE(LoopbackPortIsTheUsers(other.Port()));
    EXPECT_FALSE(AddressMayBeUsed(base + "/Brush.html"));
    EXPECT_FALSE(PageMayCall(base + "/Brush.html"));
    // A download from there is refused once connected, before a byte of the request is sent.
    testsupport::TempDir dir;
    DownloadWatch watch;
    EXPECT_EQ(DownloadToNewFile(base + "/tool.zip", dir.File("tool.zip"), &watch), 0);
    EXPECT_EQ(watch.failure, DownloadFailure::Refused);
    // Also when the user's own server sends it there: refused, not the redirect's status.
    loopback::HttplibServer own;
    own.server.Get("/tool.zip",
                   [&](const auto&, auto& response) { response.set_redirect(base + "/tool.zip"); });
    ASSERT_TRUE(own.Start());
    DownloadWatch redirected;
    EXPECT_EQ(DownloadToNewFile(own.BaseUrl() + "/tool.zip", dir.File("again.zip"), &redirected),
              0);
    EXPECT_EQ(redirected.failure, DownloadFailure::Refused);
    EXPECT_FALSE(other.GotRequest(std::chrono::seconds(1)))
        << "the other user's server got a request";
}

TEST(LoopbackOwner, AnotherUsersSocketOfAnyLoopbackFormBesideTheUsersOwnIsCounted) {
    // The user's server listens on ::1 only, as servers bound to "localhost" often do; another
    // user takes the same port's IPv4 side, in each form that answers 127.0.0.1.
    testsupport::PrivateNetwork network;
    if (!network.Entered()) GTEST_SKIP() << network.Reason();
    uint16_t port = 0;
    const int own = ListenOnLoopback(true, port);
    ASSERT_GE(own, 0);
    ASSERT_TRUE(LoopbackPortIsTheUsers(port));
    for (const char* form : {"::ffff:0.0.0.0", "::ffff:127.0.0.1", "0.0.0.0", "127.0.0.1"}) {
        testsupport::ForeignListener other(form, port);
        if (!other.Started()) {
            close(own);
            GTEST_SKIP() << "cannot listen as uid 65534 on " << form;
        }
        EXPECT_FALSE(LoopbackPortIsTheUsers(port)) << form;
        EXPECT_FALSE(
            ListenersAreTheUsers(os::ListTcpListenersFromTables(port), os::EffectiveUserId()))
            << form;
        EXPECT_FALSE(AddressMayBeUsed("http://[::1]:" + std::to_string(port) + "/")) << form;
    }
    close(own);
}

TEST(LoopbackOwner, ADocumentThatCameWhileAnotherUserCouldAnswerStaysUntrusted) {
    testsupport::PrivateNetwork network;
    if (!network.Entered()) GTEST_SKIP() << network.Reason();
    auto other = std::make_unique<testsupport::ForeignListener>();
    if (!other->Started()) GTEST_SKIP() << "cannot run a listener as uid 65534 here (not root?)";
    uint16_t port = other->Port();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/Brush.html";
    testsupport::FakeWebView view;
    PageBridge bridge(url, "/opt/nook");
    int ran = 0;
    bridge.AddCommandSet([&](PageCommand&) { return ++ran > 0; });
    bridge.Attach(view);
    // Any navigation there is turned down before the browser connects.
    os::WebEvent navigation;
    navigation.code = kEventBeforeNavigate2;
    navigation.url = url;
    bridge.Observe(navigation);
    EXPECT_TRUE(navigation.cancel && navigation.refusedByOwner);
    // A document that came all the same (the other user held the port while it loaded)...
    auto commit = [&] {
        view.LoadUri(url);
        os::WebEvent committed;
        committed.code = kEventNavigateComplete2;
        committed.url = url;
        bridge.Observe(committed);
    };
    commit();
    // ...stays untrusted once the user's own server has the port back.
    other.reset();
    const int own = ListenOnLoopback(false, port);
    ASSERT_GE(own, 0);
    ASSERT_TRUE(LoopbackPortIsTheUsers(port));
    view.Call(url, "app:app.setcookie&pkgbase&http://evil/");
    EXPECT_EQ(ran, 0);
    // The next document the user's server sends is trusted.
    commit();
    view.Call(url, "app:app.setcookie&pkgbase&http://own/");
    EXPECT_EQ(ran, 1);
    close(own);
}

}  // namespace
