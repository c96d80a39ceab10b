#include <gtest/gtest.h>

#include <climits>

#include "FakeWindow.h"
#include "web/CommonCommands.h"
#include "web/HtmlPanel.h"

namespace {

using testsupport::FakeWindow;

struct Started {
    std::string file;
    std::vector<std::string> args;
    bool shown = false;
};

// The panel side of the common set, with a fake window and a recorded program start.
class FakeTarget : public CommonCommandTarget {
  public:
    os::Window* CommandWindow() override { return window.alive ? &window : nullptr; }
    std::string CommandModuleDirectory() const override { return "/opt/maplenook"; }
    void QuitProgram() override { ++quits; }
    void ClosePanel() override { window.Destroy(); }
    bool StartProgram(const std::string& file, const std::vector<std::string>& args,
                      bool shown) override {
        started.push_back({file, args, shown});
        return startWorks;
    }
    FakeWindow window;
    int quits = 0;
    std::vector<Started> started;
    bool startWorks = true;
    CommonCommands common{*this};
};

CommandResult RunText(FakeTarget& target, const std::string& text, bool* known = nullptr) {
    auto command = ParsePageCommand(text);
    EXPECT_TRUE(command) << text;
    const bool ran = target.common.Run(*command);
    if (known) *known = ran;
    return command->result;
}

TEST(CommonCommandsTest, AppRunResolvesModulePathsSplitsParametersAndReportsTheStart) {
    FakeTarget target;
    EXPECT_EQ(RunText(target, "app:app.run&\\tools\\x.exe&0&abc"), CommandResult{int32_t{1}});
    ASSERT_EQ(target.started.size(), 1u);
    EXPECT_EQ(target.started[0].file, "/opt/maplenook/tools/x.exe");
    EXPECT_TRUE(target.started[0].args.empty());
    EXPECT_FALSE(target.started[0].shown);

    RunText(target, "app:app.run&\\tools\\x.exe&0&1");
    EXPECT_TRUE(target.started[1].shown);
    RunText(target, "app:app.run&\\tools\\x.exe&0&0");
    EXPECT_TRUE(target.started[2].shown);  // any integer text shows; its value is not used
    RunText(target, "app:app.run&/usr/bin/env&-i \"a b\" c");
    EXPECT_EQ(target.started[3].file, "/usr/bin/env");
    EXPECT_EQ(target.started[3].args, (std::vector<std::string>{"-i", "a b", "c"}));
    EXPECT_FALSE(target.started[3].shown);  // no third item: not an integer

    target.startWorks = false;
    EXPECT_EQ(RunText(target, "app:app.run&\\missing"), CommandResult{int32_t{0}});
    // No program named: nothing to start, the result stays the untouched -1.
    EXPECT_EQ(RunText(target, "app:app.run"), CommandResult{int16_t{-1}});
    EXPECT_EQ(target.started.size(), 5u);
}

TEST(CommonCommandsTest, WindowCommandsActOnThePanelWindow) {
    FakeTarget target;
    target.window.rect = {100, 50, 500, 350};
    RunText(target, "app:panel.move&&10&-5");
    EXPECT_EQ(target.window.rect, (os::Rect{110, 45, 510, 345}));
    RunText(target, "app:panel.move&x&y");  // no digits read as 0
    EXPECT_EQ(target.window.rect, (os::Rect{110, 45, 510, 345}));
    target.window.calls.clear();
    RunText(target, "app:panel.move&10");  // dy missing: ignored
    EXPECT_TRUE(target.window.calls.empty());
    // However far a page asks, the window keeps its size: edges stop at the int range.
    RunText(target, "app:panel.move&2147483647&99999999999");
    EXPECT_EQ(target.window.rect, (os::Rect{INT_MAX - 400, INT_MAX - 300, INT_MAX, INT_MAX}));
    RunText(target, "app:panel.move&-2147483648&-2147483648");
    RunText(target, "app:panel.move&-2147483648&-2147483648");
    EXPECT_EQ(target.window.rect, (os::Rect{INT_MIN, INT_MIN, INT_MIN + 400, INT_MIN + 300}));

    RunText(target, "app:panel.maxsize");
    EXPECT_TRUE(target.window.maximized);
    RunText(target, "app:panel.normalsize");
    EXPECT_FALSE(target.window.maximized);
    RunText(target, "app:panel.minsize");
    EXPECT_TRUE(target.window.minimized);
    RunText(target, "app:panel.toggle");
    EXPECT_TRUE(target.window.visible);
    RunText(target, "app:panel.toggle");
    EXPECT_FALSE(target.window.visible);

    bool known = false;
    for (const char* accepted : {"app:panel.clientarea&1&2&3&4", "app:panel.create",
                                 "app:panel.create&1&2", "app:panel.slide"}) {
        target.window.calls.clear();
        EXPECT_EQ(RunText(target, accepted, &known), CommandResult{int16_t{-1}});
        EXPECT_TRUE(known) << accepted;
        EXPECT_TRUE(target.window.calls.empty()) << accepted;
    }

    EXPECT_EQ(RunText(target, "app:app.quit"), CommandResult{int16_t{-1}});
    EXPECT_EQ(target.quits, 1);
    RunText(target, "app:panel.close");
    EXPECT_FALSE(target.window.alive);
    // Without a window the window commands do nothing and nothing breaks.
    RunText(target, "app:panel.toggle");
    RunText(target, "app:panel.move&1&1");
    EXPECT_FALSE(target.window.visible);
}

TEST(CommonCommandsTest, NamesAreExactAndCaseSensitive) {
    FakeTarget target;
    bool known = true;
    RunText(target, "app:Panel.Toggle", &known);
    EXPECT_FALSE(known);
    EXPECT_FALSE(target.window.visible);
    RunText(target, "app:", &known);
    EXPECT_FALSE(known);
    RunText(target, "app:panel.toggle ", &known);
    EXPECT_FALSE(known);
}

TEST(CommonCommandsTest, StyleWritesOnlyChangesAndAppliesTheBitsLinuxKnows) {
    FakeTarget target;
    target.window.calls.clear();
    RunText(target, "app:panel.style&0&0");
    EXPECT_EQ(target.common.StyleWord(), 0x80000048u);
    EXPECT_TRUE(target.window.calls.empty());
    RunText(target, "app:panel.style&268435456");  // one item only: nothing
    EXPECT_TRUE(target.window.calls.empty());
    EXPECT_EQ(target.common.StyleWord(), 0x80000048u);

    RunText(target, "app:panel.style&268435456&0");  // WS_VISIBLE
    EXPECT_TRUE(target.window.visible);
    EXPECT_EQ(target.common.StyleWord(), 0x90000048u);
    target.window.calls.clear();
    RunText(target, "app:panel.style&268435456&0");  // already so: no write
    EXPECT_TRUE(target.window.calls.empty());

    RunText(target, "app:panel.style&16777216&0");  // WS_MAXIMIZE
    EXPECT_TRUE(target.window.maximized);
    RunText(target, "app:panel.style&0&16777216");
    EXPECT_FALSE(target.window.maximized);
    // The window hidden behind the word's back: the current style reads the window.
    target.window.visible = false;
    RunText(target, "app:panel.style&268435456&0");
    EXPECT_TRUE(target.window.visible);
    // Bits without a Linux meaning are kept as written.
    RunText(target, "app:panel.style&64&-1");
    EXPECT_EQ(target.common.StyleWord(), 64u);
    EXPECT_FALSE(target.window.visible);

    RunText(target, "app:panel.exstyle&136&0");  // WS_EX_TOPMOST | WS_EX_TOOLWINDOW
    EXPECT_TRUE(target.window.keepAbove);
    EXPECT_TRUE(target.window.skipTaskbar);
    EXPECT_EQ(target.common.ExStyleWord(), 136u);
    RunText(target, "app:panel.exstyle&0&8");
    EXPECT_FALSE(target.window.keepAbove);
    EXPECT_TRUE(target.window.skipTaskbar);
    RunText(target, "app:panel.exstyle&8");
    EXPECT_FALSE(target.window.keepAbove);
}

// A panel without a window: the parts of CHtmlPanel that are pure logic.
class LogicPanel : public CHtmlPanel {
  public:
    LogicPanel() : CHtmlPanel("logic", 0, {}, LogicRole()) {}
    Role LogicRole() {
        Role role;
        role.commands = [this](PageCommand& command) {
            seen.push_back(command.name);
            if (command.name != "panel.toggle" && command.name != "own") return false;
            command.result = std::string("mine");
            return true;
        };
        role.quit = [this] { ++quits; };
        return role;
    }
    std::vector<std::string> seen;
    int quits = 0;
};

TEST(HtmlPanelLogicTest, ThePanelsOwnSetIsOfferedBeforeTheCommonSet) {
    LogicPanel panel;
    PageBridge& bridge = panel.Bridge();
    EXPECT_EQ(bridge.Execute(std::nullopt), CommandResult{int16_t{-1}});
    EXPECT_EQ(bridge.Execute(std::string()), CommandResult{int16_t{-1}});
    EXPECT_EQ(bridge.Execute(std::string("App:own")), CommandResult{int16_t{-1}});
    EXPECT_TRUE(panel.seen.empty());
    EXPECT_EQ(bridge.Execute(std::string("app:own&1")), CommandResult{std::string("mine")});
    EXPECT_EQ(bridge.Execute(std::string("app:panel.toggle")), CommandResult{std::string("mine")});
    EXPECT_EQ(bridge.Execute(std::string("app:app.quit")), CommandResult{int16_t{-1}});
    EXPECT_EQ(panel.quits, 1);
    EXPECT_EQ(panel.seen, (std::vector<std::string>{"own", "panel.toggle", "app.quit"}));
}

TEST(HtmlPanelLogicTest, BaseAnswersOfThePanelEventChain) {
    LogicPanel panel;
    PanelEvent error{.code = kEventNavigateError};
    EXPECT_TRUE(panel.OnPanelEvent(error));
    EXPECT_TRUE(error.cancel);
    PanelEvent menu{.code = kUiShowContextMenu, .answer = 1};
    EXPECT_TRUE(panel.OnPanelEvent(menu));
    EXPECT_EQ(menu.answer, 0);
    PanelEvent host{.code = kUiGetHostInfo};
    panel.OnPanelEvent(host);
    EXPECT_EQ(host.answer, 0x4000D);
    PanelEvent key{.code = kUiGetOptionKeyPath};
    panel.OnPanelEvent(key);
    EXPECT_EQ(key.key, "");  // not configured yet: the browser's default place
    panel.ConfigureBrowser();
    panel.OnPanelEvent(key);
    EXPECT_EQ(key.key, "Software\\quorlin\\webapp");
    PanelEvent other{.code = kEventTitleChange};
    EXPECT_FALSE(panel.OnPanelEvent(other));
}

TEST(HtmlPanelLogicTest, EveryKeyIsEatenWhileF5IsDown) {
    LogicPanel panel;
    using os::Key;
    EXPECT_FALSE(panel.TranslatePanelMessage({.key = Key::Other}));
    EXPECT_TRUE(panel.TranslatePanelMessage({.key = Key::F5}));
    EXPECT_TRUE(
        panel.TranslatePanelMessage({.key = Key::Other, .modifiers = os::kModifierControl}));
    EXPECT_FALSE(panel.TranslatePanelMessage({.key = Key::F5, .pressed = false}));
    EXPECT_FALSE(panel.TranslatePanelMessage({.key = Key::Escape}));
    EXPECT_TRUE(panel.TranslatePanelMessage({.key = Key::F5, .modifiers = os::kModifierControl}));
}

TEST(HtmlPanelLogicTest, WithoutAWindowNothingNavigatesAndFileUrlsAreFormed) {
    LogicPanel panel;
    EXPECT_FALSE(panel.NavigatePage("\\res\\web\\brush.html"));
    EXPECT_EQ(panel.CommandWindow(), nullptr);
    EXPECT_EQ(panel.ToFileUrl("/opt/app\\res\\web\\brush.html"),
              "file:///opt/app/res/web/brush.html");
    panel.ClosePanel();  // no window: nothing to do
}

}  // namespace
