// A proxy named by the environment, run by another user, never sees a loopback page: WebKit
// goes to loopback directly, so the document the bridge judges is the one the user's server
// sent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ForeignListener.h"
#include "LoopbackHttp.h"
#include "TempDir.h"
#include "WebTestPanel.h"

namespace {

TEST(LoopbackProxy, LoopbackPagesNeverGoThroughTheProxyTheEnvironmentNames) {
    testsupport::ForeignListener proxy;
    if (!proxy.Started()) GTEST_SKIP() << "cannot run a listener as uid 65534 here (not root?)";
    // Read when the first web context is made, which this test's process has not done yet
    // (CTest runs each test on its own).
    const std::string address = "http://127.0.0.1:" + std::to_string(proxy.Port());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "all_proxy"})
        setenv(name, address.c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    ASSERT_TRUE(testsupport::PrepareWebTests());
    loopback::HttplibServer own;
    own.server.Get("/Brush.html", [](const auto&, auto& response) {
        response.set_content("<html><body>own</body></html>", "text/html");
    });
    ASSERT_TRUE(own.Start());
    testsupport::TempDir module;
    testsupport::WebTestPanel panel("proxied", module.path(), own.BaseUrl() + "/Brush.html");
    ASSERT_TRUE(panel.OpenPage(own.BaseUrl() + "/Brush.html"));
    EXPECT_EQ(panel.Evaluate("document.body.textContent"), "own");
    EXPECT_EQ(panel.Evaluate("String(window.external.Call !== undefined)"), "true");
    EXPECT_FALSE(proxy.GotRequest(std::chrono::milliseconds(200)))
        << "the other user's proxy was asked for the loopback page";
}

}  // namespace
