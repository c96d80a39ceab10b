#include "app/SingleInstance.h"
#include "base/MessageLoop.h"
#include "os/HandOver.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

namespace {

class RecordingFilter : public CMessageFilter {
  public:
    RecordingFilter(std::string name, std::string& log, bool consume)
        : name_(std::move(name)), log_(log), consume_(consume) {}
    bool PreTranslateMessage(const Message&) override {
        log_ += name_;
        if (onCall) onCall();
        return consume_;
    }
    std::function<void()> onCall;

  private:
    std::string name_;
    std::string& log_;
    bool consume_;
};

Message KeyDown() {
    Message msg;
    msg.code = kMessageKeyDown;
    msg.key = os::Key::Escape;
    return msg;
}

}  // namespace

TEST(MessageLoop, FiltersAreOfferedNewestFirstUntilOneConsumes) {
    std::string log;
    RecordingFilter a("a", log, false), b("b", log, true), c("c", log, false);
    CMessageLoop loop;
    EXPECT_FALSE(loop.PreTranslateMessage(KeyDown()));
    loop.AddMessageFilter(&a);
    loop.AddMessageFilter(&b);
    loop.AddMessageFilter(&c);
    EXPECT_TRUE(loop.PreTranslateMessage(KeyDown()));
    EXPECT_EQ(log, "cb");

    log.clear();
    loop.RemoveMessageFilter(&b);
    EXPECT_FALSE(loop.PreTranslateMessage(KeyDown()));
    EXPECT_EQ(log, "ca");
}

TEST(MessageLoop, FiltersMayUnregisterWhileAMessageIsOffered) {
    std::string log;
    RecordingFilter a("a", log, false), b("b", log, false), c("c", log, false);
    CMessageLoop loop;
    loop.AddMessageFilter(&a);
    loop.AddMessageFilter(&b);
    loop.AddMessageFilter(&c);
    // The newest filter closes its panel and takes the one below it along.
    c.onCall = [&] {
        loop.RemoveMessageFilter(&c);
        loop.RemoveMessageFilter(&b);
    };
    EXPECT_FALSE(loop.PreTranslateMessage(KeyDown()));
    EXPECT_EQ(log, "ca");
    log.clear();
    EXPECT_FALSE(loop.PreTranslateMessage(KeyDown()));
    EXPECT_EQ(log, "a");
}

TEST(MessageLoop, TheLoopBelongsToTheThreadThatRegisteredIt) {
    CMessageLoop loop;
    EXPECT_EQ(GetMessageLoop(), nullptr);
    RegisterMessageLoop(&loop);
    EXPECT_EQ(GetMessageLoop(), &loop);
    CMessageLoop* seenElsewhere = &loop;
    std::thread([&] { seenElsewhere = GetMessageLoop(); }).join();
    EXPECT_EQ(seenElsewhere, nullptr);
    UnregisterMessageLoop();
    EXPECT_EQ(GetMessageLoop(), nullptr);
}

TEST(WindowHandleText, IsTheSignedDecimalOfThe32BitHandle) {
    EXPECT_EQ(WindowHandleText(0x1E00003), "31457283");
    EXPECT_EQ(WindowHandleText(0x80000001L), "-2147483647");
    EXPECT_EQ(WindowHandleText(-5), "-5");
}
