#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "os/linux/BridgeProtocol.h"

namespace {

TEST(BridgeProtocolTest, FramesRoundTripAndTruncatedOnesAreRefused) {
    bridge::Request request;
    request.sequence = 42;
    request.pageId = 9;
    request.frameId = 1ull << 40;
    request.hasParam = true;
    request.url = "file:///opt/maplenook/res/web/brush.html";
    request.param = std::string("app:x&\0y", 8);
    const std::string frame = bridge::EncodeRequest(request);
    uint32_t size = 0;
    std::memcpy(&size, frame.data(), sizeof size);
    ASSERT_EQ(size, frame.size() - sizeof size);
    const std::string body = frame.substr(sizeof size);
    bridge::Request decoded;
    ASSERT_TRUE(bridge::DecodeRequest(body, decoded));
    EXPECT_EQ(decoded.sequence, 42u);
    EXPECT_EQ(decoded.pageId, 9u);
    EXPECT_EQ(decoded.frameId, 1ull << 40);
    EXPECT_TRUE(decoded.hasParam);
    EXPECT_EQ(decoded.url, request.url);
    EXPECT_EQ(decoded.param, request.param);
    for (size_t cut = 0; cut < body.size(); ++cut) {
        bridge::Request partial;
        EXPECT_FALSE(bridge::DecodeRequest(body.substr(0, cut), partial)) << cut;
    }

    const std::string replyFrame = bridge::EncodeReply({7, bridge::kReplyNoTarget, ""});
    bridge::Reply reply;
    ASSERT_TRUE(bridge::DecodeReply(replyFrame.substr(sizeof size), reply));
    EXPECT_EQ(reply.sequence, 7u);
    EXPECT_EQ(reply.status, bridge::kReplyNoTarget);
    std::string lying = replyFrame.substr(sizeof size);
    lying[5] = '\x7f';  // text length beyond the body
    EXPECT_FALSE(bridge::DecodeReply(lying, reply));

    // A long text is read straight after the head, which must account for all of it.
    const std::string replyWithText = bridge::EncodeReply({8, bridge::kReplyResult, "abc"});
    char head[bridge::kReplyHeadSize];
    replyWithText.copy(head, sizeof head);
    uint32_t sequence = 0, textSize = 0;
    uint8_t status = 0;
    ASSERT_TRUE(bridge::DecodeReplyHead(head, sequence, status, textSize));
    EXPECT_EQ(std::tie(sequence, status, textSize), std::make_tuple(8u, uint8_t{0}, 3u));
    head[9] = '\x04';  // text length no longer the frame's rest
    EXPECT_FALSE(bridge::DecodeReplyHead(head, sequence, status, textSize));

    // A page function call: arguments with NULs survive; any cut, or a count the text could
    // not hold, is refused.
    const std::string note =
        bridge::EncodeNotify(1ull << 33, "hostNotify", {"run", std::string("a\0b", 3), ""});
    bridge::Notify decodedNote;
    ASSERT_TRUE(bridge::DecodeNotify(note, decodedNote));
    EXPECT_EQ(decodedNote.pageId, 1ull << 33);
    EXPECT_EQ(decodedNote.name, "hostNotify");
    EXPECT_EQ(decodedNote.args, (std::vector<std::string>{"run", std::string("a\0b", 3), ""}));
    for (size_t cut = 0; cut < note.size(); ++cut)
        EXPECT_FALSE(bridge::DecodeNotify(note.substr(0, cut), decodedNote)) << cut;
    std::string huge = bridge::EncodeNotify(1, "f", {});
    huge.replace(huge.size() - 4, 4, "\xff\xff\xff\x7f");
    EXPECT_FALSE(bridge::DecodeNotify(huge, decodedNote));
}

}  // namespace
