#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "os/ProcFs.h"

namespace {

os::ListenerAddress Address(const std::string& text) {
    os::ListenerAddress address;
    address.ipv6 = text.find(':') != std::string::npos;
    unsigned char bytes[16] = {};
    EXPECT_EQ(inet_pton(address.ipv6 ? AF_INET6 : AF_INET, text.c_str(), bytes), 1) << text;
    std::memcpy(address.bytes.data(), bytes, address.ipv6 ? 16 : 4);
    return address;
}

TEST(ListenerReach, EverySocketThatCanAnswerALoopbackConnectionCounts) {
    for (const char* reachable : {"0.0.0.0", "127.0.0.1", "127.200.3.4", "::1",
                                  "::", "::ffff:0.0.0.0", "::ffff:127.0.0.1", "::ffff:127.9.9.9"}) {
        EXPECT_TRUE(os::ReachableFromLoopback(Address(reachable))) << reachable;
    }
    for (const char* elsewhere : {"10.0.0.1", "128.0.0.1", "126.255.255.255", "::2", "fe80::1",
                                  "::ffff:10.0.0.1", "::127.0.0.1", "2001:db8::1", "1::"}) {
        EXPECT_FALSE(os::ReachableFromLoopback(Address(elsewhere))) << elsewhere;
    }
}

}  // namespace
