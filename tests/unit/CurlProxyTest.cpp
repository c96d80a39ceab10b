#include "web/CurlProxy.h"

#include <gtest/gtest.h>

TEST(CurlProxy, FirstUsableEntryInLibcurlSpellingAndLoopbackDirect) {
    EXPECT_EQ(CurlProxyFrom({"direct://"}), "");
    EXPECT_EQ(CurlProxyFrom({"HTTPS://u:p@proxy.lan:443", "direct://"}),
              "https://u:p@proxy.lan:443");
    // SOCKS 5 resolves names at the proxy; unusable entries are passed over, not taken as direct.
    EXPECT_EQ(CurlProxyFrom({"ftp://f:21", "bogus", "http://", "socks5://s:1", "socks4://s:1"}),
              "socks5h://s:1");
    EXPECT_EQ(CurlProxyFrom({"socks://s:1"}), "socks5h://s:1");
    EXPECT_EQ(CurlProxyFrom({"ftp://f:21"}), std::nullopt);
    EXPECT_EQ(CurlProxyFor("https://LOCALHOST/x"), "");
}
