// The emulated phone's transport and services as a host meets them, byte by byte: what real adb
// does with it is tested end to end in the integration tests; these hold the edges adb never
// sends (broken, oversized and out-of-place messages) and the pieces adb may cut anywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AdbMessage.h"
#include "Connection.h"
#include "PhoneState.h"
#include "ShellCommands.h"

namespace {

using phone::EncodeMessage;

// A host on one connection: sends messages, reads back the phone's.
struct Host {
    phone::PhoneState state{{}, "", 1, 0};
    phone::Connection connection{state};

    // False when the phone closed the connection.
    bool Send(const std::string& bytes, size_t piece = SIZE_MAX) {
        for (size_t at = 0; at < bytes.size(); at += piece) {
            if (!connection.Receive(bytes.substr(at, piece))) return false;
        }
        return true;
    }
    std::vector<phone::Message> Answers() {
        std::vector<phone::Message> messages;
        const std::string out = connection.TakeOutput();
        std::string_view rest(out);
        while (!rest.empty()) {
            const auto parsed = phone::ParseMessage(rest, phone::Connection::kMaxData);
            EXPECT_EQ(parsed.status, phone::ParseStatus::Complete);
            if (parsed.status != phone::ParseStatus::Complete) break;
            messages.push_back(parsed.message);
            rest.remove_prefix(parsed.consumed);
        }
        return messages;
    }
    // Everything one stream writes until it closes, acknowledging each piece.
    std::string StreamText(uint32_t hostId) {
        std::string text;
        for (int guard = 0; guard < 1000; ++guard) {
            bool closed = false;
            for (const auto& m : Answers()) {
                if (m.command == phone::kWrte && m.arg1 == hostId) {
                    text += m.data;
                    Send(EncodeMessage(phone::kOkay, hostId, m.arg0, {}));
                }
                closed = closed || (m.command == phone::kClse && m.arg1 == hostId);
            }
            if (closed) break;
        }
        return text;
    }
};

std::string Connect() {
    return EncodeMessage(phone::kCnxn, 0x01000001, 256 * 1024, "host::\0");
}

TEST(DemoPhone, BrokenOversizedAndOutOfPlaceMessagesCloseTheConnection) {
    std::string badMagic = EncodeMessage(phone::kOpen, 1, 0, "shell:\0");
    badMagic[20] ^= 1;
    std::string oversized = EncodeMessage(phone::kWrte, 1, 1, {});
    oversized[12] = 0;  // data length 0x00000000 -> 0x7f000000 below
    oversized[15] = 0x7f;
    for (const std::string& bytes : {Connect() + badMagic, Connect() + oversized,
                                     EncodeMessage(phone::kOpen, 1, 0, "shell:\0"),
                                     Connect() + EncodeMessage(phone::kAuth, 1, 0, "x")}) {
        Host host;
        EXPECT_FALSE(host.Send(bytes));
    }
    Host host;
    ASSERT_TRUE(host.Send(Connect(), 5));
    const auto answers = host.Answers();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].data.rfind("device::ro.product.name=", 0), 0u);
    EXPECT_NE(answers[0].data.find(";features=shell_v2"), std::string::npos);
    // A service the phone does not offer is refused, and the connection stays.
    EXPECT_TRUE(host.Send(EncodeMessage(phone::kOpen, 7, 0, "jdwp:1\0")));
    const auto refused = host.Answers();
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].command, phone::kClse);
    EXPECT_EQ(refused[0].arg1, 7u);
}

TEST(DemoPhone, FilesCutAnywhereArriveWholeAndInstallsFailAsAsked) {
    Host host;
    ASSERT_TRUE(host.Send(Connect()));
    host.Answers();
    const std::string body(150000, 'x');
    const std::string target = "/data/local/tmp/a.apk,33188";
    std::string sync = "SEND";
    phone::AppendLe32(sync, static_cast<uint32_t>(target.size()));
    sync += target;
    for (size_t at = 0; at < body.size(); at += 65536) {
        const std::string piece = body.substr(at, 65536);
        sync += "DATA";
        phone::AppendLe32(sync, static_cast<uint32_t>(piece.size()));
        sync += piece;
    }
    sync += std::string("DONE\0\0\0\0QUIT\0\0\0\0", 16);
    ASSERT_TRUE(host.Send(EncodeMessage(phone::kOpen, 3, 0, "sync:\0")));
    const auto opened = host.Answers();
    ASSERT_EQ(opened.size(), 1u);
    ASSERT_TRUE(host.Send(EncodeMessage(phone::kWrte, 3, opened[0].arg0, sync), 1000));
    EXPECT_EQ(host.StreamText(3), std::string("OKAY\0\0\0\0", 8));
    EXPECT_TRUE(host.state.ReadFile("/data/local/tmp/a.apk") == body) << "the file arrived whole";

    // --fail-installs 1 (the Host's phone): the first install fails, the second lands.
    const std::string install = "pm 'install' '-r' '/data/local/tmp/a.apk' </dev/null";
    const auto first = phone::RunShellCommand(host.state, install);
    EXPECT_EQ(first.out, "Failure [INSTALL_FAILED_INTERNAL_ERROR]\n");
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_EQ(phone::RunShellCommand(host.state, install).out, "Success\n");
    const auto unknown = phone::RunShellCommand(host.state, "frob 'a b'");
    EXPECT_EQ(unknown.err, "/system/bin/sh: frob: inaccessible or not found\n");
    EXPECT_EQ(unknown.exitCode, 127);
}

TEST(DemoPhone, ShellWordsFollowShellQuoting) {
    EXPECT_EQ(phone::ShellWords("rm -f '/data/local/tmp/it'\\''s.apk'  \"a \\\"b\\\"\" c\\ d"),
              (std::vector<std::string>{"rm", "-f", "/data/local/tmp/it's.apk", "a \"b\"", "c d"}));
    EXPECT_EQ(phone::CanonicalDevicePath("//sdcard/./x/../../../y"), "/y");
}

}  // namespace
