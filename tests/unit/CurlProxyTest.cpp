#include "web/CurlProxy.h"

#include <gtest/gtest.h>

TEST(CurlProxyFrom, FirstUsableEntryInLibcurlSpelling) {
    EXPECT_EQ(CurlProxyFrom({"direct://"}), "");
    EXPECT_EQ(CurlProxyFrom({"http://proxy.lan:3128"}), "http://proxy.lan:3128");
    EXPECT_EQ(CurlProxyFrom({"HTTPS://u:p@proxy.lan:443", "direct://"}),
              "https://u:p@proxy.lan:443");
    // SOCKS 5 resolves names at the proxy: this side may not be able to.
    EXPECT_EQ(CurlProxyFrom({"socks5://127.0.0.1:1080", "socks4a://127.0.0.1:1080",
                             "socks4://127.0.0.1:1080"}),
              "socks5h://127.0.0.1:1080");
    EXPECT_EQ(CurlProxyFrom({"socks://s:1"}), "socks5h://s:1");
    EXPECT_EQ(CurlProxyFrom({"socks4://s:1"}), "socks4://s:1");
    // Entries libcurl cannot use are passed over, not taken for direct.
    EXPECT_EQ(CurlProxyFrom({"ftp://f:21", "bogus", "http://", "socks4a://s:2"}), "socks4a://s:2");
    EXPECT_EQ(CurlProxyFrom({"ftp://f:21"}), std::nullopt);
    EXPECT_EQ(CurlProxyFrom({}), std::nullopt);
}

TEST(CurlProxyFor, LoopbackAddressesAreAlwaysDirect) {
    EXPECT_EQ(CurlProxyFor("http://127.0.0.1:9/x"), "");
    EXPECT_EQ(CurlProxyFor("https://LOCALHOST/x"), "");
}
