#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "FakeWebView.h"
#include "os/DiagnosticLog.h"
#include "os/GuiThread.h"
#include "os/PanelEventCodes.h"
#include "web/PageBridge.h"

namespace {

using testsupport::FakeWebView;

constexpr const char* kMainPage = "http://maker.example/web/Brush.html";

// Runs what is queued for the GUI thread so far.
void RunQueued() {
    os::PostToGuiThread([] { os::QuitGuiLoop(0); });
    os::RunGuiLoop();
}

std::string LogText() {
    std::ifstream in(os::DiagnosticLogPath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class PageBridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bridge_->AddCommandSet([this](PageCommand& command) {
            if (command.name != "own.echo" && command.name != "shared") return false;
            seen_.push_back("own " + command.name);
            command.result = command.Item(1);
            return true;
        });
        bridge_->AddCommandSet([this](PageCommand& command) {
            seen_.push_back("common " + command.name);
            return command.name == "shared" || command.name == "common.only";
        });
        bridge_->Attach(view_);
    }

    FakeWebView view_;
    std::unique_ptr<PageBridge> bridge_ = std::make_unique<PageBridge>(kMainPage, "/opt/nook");
    std::vector<std::string> seen_;
};

TEST_F(PageBridgeTest, OnlyTrustedPagesStillShownReachTheTableInItsOrder) {
    view_.LoadUri("http://maker.example/web/other.html");
    EXPECT_EQ(view_.Call("http://maker.example/web/other.html", "app:own.echo&hi"), "hi");
    EXPECT_EQ(view_.Call("http://maker.example/x.html", "app:shared&first"), "first");
    EXPECT_EQ(view_.Call("http://maker.example/x.html", "app:common.only"), "-1");
    EXPECT_EQ(view_.Call("http://maker.example/x.html", "app:nobody"), "-1");
    EXPECT_EQ(view_.Call("http://maker.example/x.html", std::nullopt), "-1");
    EXPECT_EQ(seen_, (std::vector<std::string>{"own own.echo", "own shared", "common common.only",
                                               "common nobody"}));

    seen_.clear();
    // Another origin calling, or a trusted document's call arriving once the view shows an
    // untrusted page: no target, nothing runs, and the refusal is in the log.
    EXPECT_EQ(view_.Call("http://evil.example/steal.html", "app:own.echo&x"), std::nullopt);
    view_.LoadUri("http://evil.example/next.html");
    EXPECT_EQ(view_.Call("http://maker.example/web/Brush.html", "app:shared&late"), std::nullopt);
    EXPECT_TRUE(seen_.empty());
    if (os::DiagnosticLogPath().empty()) return;  // a platform without a log file
    const std::string log = LogText();
    EXPECT_NE(log.find("bridge call refused: http://evil.example/steal.html (shown "
                       "http://maker.example/web/other.html): own.echo"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("bridge call refused: http://maker.example/web/Brush.html (shown "
                       "http://evil.example/next.html): shared"),
              std::string::npos)
        << log;
}

TEST_F(PageBridgeTest, NotificationsRunInOrderOnceAndNeverAfterTheBridgeIsGone) {
    view_.LoadUri(kMainPage);
    const PageBridge::Notifier notify = bridge_->MakeNotifier();
    bridge_->Notify("first");
    notify("second", {"a','b", "c"});
    EXPECT_TRUE(view_.scripts.empty());  // queued, not run on the caller's turn
    RunQueued();
    ASSERT_EQ(view_.scripts.size(), 2u);
    EXPECT_EQ(view_.scripts[0], "hostNotify('first');");
    EXPECT_EQ(view_.scripts[1], "hostNotify('second','a\\',\\'b','c');");

    notify("queued before the bridge went", {});
    bridge_.reset();
    notify("after", {});
    RunQueued();
    EXPECT_EQ(view_.scripts.size(), 2u);
    // The view no longer answers calls for the bridge that went.
    EXPECT_EQ(view_.Call(kMainPage, "app:own.echo&x"), std::nullopt);
}

// The document that commits; the view shows it from then on.
void Commit(FakeWebView& view, PageBridge& bridge, const std::string& url) {
    view.LoadUri(url);
    os::WebEvent event;
    event.code = kEventNavigateComplete2;
    event.url = url;
    bridge.Observe(event);
}

TEST_F(PageBridgeTest, NotificationsGoOnlyToTheTrustedDocumentTheyWereMeantFor) {
    Commit(view_, *bridge_, kMainPage);
    bridge_->Notify("mine");
    RunQueued();
    EXPECT_EQ(view_.scripts, std::vector<std::string>{"hostNotify('mine');"});
    // Queued for this document, run after the next one came (the same address again).
    bridge_->Notify("for the page that went");
    Commit(view_, *bridge_, kMainPage);
    RunQueued();
    // Queued while an untrusted document is on top.
    Commit(view_, *bridge_, "http://evil.example/");
    bridge_->Notify("to the stranger");
    RunQueued();
    EXPECT_EQ(view_.scripts.size(), 1u);
}

}  // namespace
