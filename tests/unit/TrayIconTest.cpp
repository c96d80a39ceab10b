#include "panel/SlideBehavior.h"
#include "panel/TrayAnchor.h"
#include "panel/TrayIconImpl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records every call the mix-in makes of the desktop's tray.
struct TrayLog {
    bool addSucceeds = true;
    std::vector<std::string> calls;
    os::TrayIconSpec added;
    os::TrayIcon::NotifyHandler notify;
    os::TrayIcon::CommandHandler command;
    os::TrayIcon::HostHandler host;
    std::string tooltip;
    int tooltipCalls = 0;
    std::vector<os::TrayMenuItem> shownMenu;
    os::ScreenPoint shownAt;
    os::ScreenPoint cursor{100, 100};
    std::vector<os::MonitorInfo> monitors{{{0, 0, 1280, 800}, {0, 0, 1280, 770}, true}};
};

class FakeTray : public os::TrayIcon {
  public:
    explicit FakeTray(TrayLog& log) : log_(log) {}
    bool Add(const os::TrayIconSpec& spec, NotifyHandler n, CommandHandler c) override {
        log_.calls.push_back("add");
        log_.added = spec;
        log_.notify = std::move(n);
        log_.command = std::move(c);
        return log_.addSucceeds;
    }
    bool Delete(unsigned id) override {
        log_.calls.push_back("delete " + std::to_string(id));
        return true;
    }
    void TrackPopupMenu(const std::vector<os::TrayMenuItem>& items, os::ScreenPoint at) override {
        log_.calls.push_back("menu");
        log_.shownMenu = items;
        log_.shownAt = at;
    }
    os::ScreenPoint CursorPos() override { return log_.cursor; }
    std::vector<os::MonitorInfo> Monitors() override { return log_.monitors; }
    void SetHostHandler(HostHandler onHost) override { log_.host = std::move(onHost); }
    void SetTooltip(const std::string& tooltip) override {
        log_.tooltip = tooltip;
        ++log_.tooltipCalls;
    }

  private:
    TrayLog& log_;
};

// The icon as a panel holds it: its commands are logged beside the tray's calls.
class TrayPanel : public CTrayIconImpl {
  public:
    explicit TrayPanel(TrayLog& log)
        : CTrayIconImpl(
              [&log](int command) { log.calls.push_back("command " + std::to_string(command)); }) {
        UseTray(std::make_unique<FakeTray>(log));
    }
};

}  // namespace

TEST(TrayIcon, AddsWithTheProgramIdIconAndEmptyTipThenDeletesAtTheEnd) {
    TrayLog log;
    TrayPanel panel(log);
    panel.SetDefaultCommand(ID_SHOW_MAIN);
    panel.AddProgramIcon();
    EXPECT_TRUE(panel.TrayIconAdded());
    EXPECT_EQ(panel.IconData().uID, 1999u);
    EXPECT_EQ(panel.IconData().uCallbackMessage, 3025u);
    EXPECT_EQ(panel.IconData().uFlags, 7u);
    EXPECT_EQ(log.added.tooltip, "");
    EXPECT_TRUE(log.added.iconPath.ends_with("/res/skin/icon.png")) << log.added.iconPath;
    // A way back to the panel first, for hosts that open the menu on a left click.
    ASSERT_EQ(log.added.hostMenu.size(), 2u);
    EXPECT_EQ(log.added.hostMenu[0].text, "显示主面板");
    EXPECT_EQ(log.added.hostMenu[0].command, ID_SHOW_MAIN);
    EXPECT_TRUE(log.added.hostMenu[0].isDefault);
    EXPECT_EQ(log.added.hostMenu[1].text, "退出");
    EXPECT_EQ(log.added.hostMenu[1].command, ID_APP_EXIT);

    {
        TrayPanel gone(log);
        gone.AddProgramIcon();
    }
    EXPECT_EQ(log.calls, (std::vector<std::string>{"add", "add", "delete 1999"}))
        << "the icon goes with its owner";
    EXPECT_TRUE(panel.RemoveTrayIcon());
    EXPECT_FALSE(panel.RemoveTrayIcon()) << "deleted once only";
}

TEST(TrayIcon, WithoutAHostTheIconWaitsForOneAndFollowsItUntilRemoved) {
    TrayLog log;
    log.addSucceeds = false;
    TrayPanel panel(log);
    std::vector<bool> heard;
    panel.SetHostHandler([&](bool shown) { heard.push_back(shown); });
    panel.AddProgramIcon();
    EXPECT_FALSE(panel.TrayIconAdded());

    // A host appears, goes and comes back: the panel knows each time.
    ASSERT_TRUE(log.host);
    log.host(true);
    EXPECT_TRUE(panel.TrayIconAdded());
    log.host(false);
    EXPECT_FALSE(panel.TrayIconAdded());
    log.host(true);
    EXPECT_EQ(heard, (std::vector<bool>{true, false, true}));

    // The tooltip reaches the tray, cut as the record holds it.
    panel.SetTooltip("正在下载 tool…");
    EXPECT_EQ(log.tooltip, "正在下载 tool…");
    EXPECT_EQ(panel.IconData().szTip, "正在下载 tool…");
    // Progress repeats the words: each change restarts GTK's tooltip delay, so none may reach it.
    panel.SetTooltip("正在下载 tool…");
    EXPECT_EQ(log.tooltipCalls, 1);

    // Removing stops the waiting even while no host shows it.
    log.host(false);
    EXPECT_FALSE(panel.RemoveTrayIcon());
    EXPECT_FALSE(panel.RemoveTrayIcon());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"add", "delete 1999"}));
}

TEST(TrayIcon, LongTipsAreCutToSixtyThreeUnitsOnACharacterBoundary) {
    TrayLog log;
    TrayPanel panel(log);
    std::string tip;
    for (int i = 0; i < 40; ++i) tip += "枫";  // one UTF-16 unit, three bytes each
    panel.AddTrayIcon(tip, "/x.png", 7);
    EXPECT_EQ(panel.IconData().szTip.size(), 3u * 40);
    tip += std::string(30, 'a');
    panel.AddTrayIcon(tip, "/x.png", 7);
    EXPECT_EQ(panel.IconData().szTip, tip.substr(0, 3 * 40 + 23));
}

TEST(TrayIcon, OnlyRightButtonUpAndDoubleClickOnOurIconDoAnything) {
    TrayLog log;
    TrayPanel panel(log);
    panel.SetDefaultCommand(ID_SHOW_MAIN);
    panel.AddTrayIcon("", "/icon.png", TRAY_ICON_ID);
    log.calls.clear();

    panel.OnTrayNotify(TRAY_ICON_ID + 1, os::TRAY_RBUTTONUP);
    panel.OnTrayNotify(TRAY_ICON_ID + 1, os::TRAY_LBUTTONDBLCLK);
    panel.OnTrayNotify(TRAY_ICON_ID, os::TRAY_LBUTTONUP);
    panel.OnTrayNotify(TRAY_ICON_ID, 0x0200);  // mouse move
    EXPECT_TRUE(log.calls.empty());

    // The tray reports through the handlers it was given.
    log.notify(TRAY_ICON_ID, os::TRAY_LBUTTONDBLCLK);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"command 2001"}));
    log.calls.clear();
    log.notify(TRAY_ICON_ID, os::TRAY_RBUTTONUP);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"menu"}));
    ASSERT_EQ(log.shownMenu.size(), 2u);
    EXPECT_EQ(log.shownMenu[0].text, "显示主面板");
    EXPECT_TRUE(log.shownMenu[0].isDefault) << "the double click's command is drawn bold";
    EXPECT_EQ(log.shownMenu[1].text, "退出");
    EXPECT_FALSE(log.shownMenu[1].isDefault);
    EXPECT_EQ(log.shownAt, (os::ScreenPoint{100, 100}));

    // Choosing "退出" reaches the panel as its command.
    log.calls.clear();
    log.command(log.shownMenu[1].command);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"command 2003"}));
}

TEST(TrayIcon, DefaultCommandZeroMarksTheFirstItemByPosition) {
    TrayLog log;
    TrayPanel panel(log);
    panel.AddTrayIcon("", "/icon.png", TRAY_ICON_ID);
    panel.OnTrayNotify(TRAY_ICON_ID, os::TRAY_RBUTTONUP);
    ASSERT_EQ(log.shownMenu.size(), 2u);
    EXPECT_TRUE(log.shownMenu[0].isDefault);
    EXPECT_FALSE(log.shownMenu[1].isDefault);
}

TEST(TrayIcon, NoMenuResourceForOtherIdsMeansRightClickDoesNothing) {
    TrayLog log;
    TrayPanel panel(log);
    panel.AddTrayIcon("", "/icon.png", 42);
    log.calls.clear();
    panel.OnTrayNotify(42, os::TRAY_RBUTTONUP);
    EXPECT_TRUE(log.calls.empty());
}

TEST(ClampToNearestWorkArea, CursorOffEveryMonitorMovesIntoTheNearestWorkAreaHorizontally) {
    const std::vector<os::MonitorInfo> monitors{
        {{0, 0, 1280, 800}, {0, 0, 1280, 770}, true},
        {{1280, 0, 2560, 1024}, {1300, 0, 2500, 1024}, false}};
    // On a monitor: kept, even outside the work area.
    EXPECT_EQ(ClampToNearestWorkArea({1290, 10}, monitors), (os::ScreenPoint{1290, 10}));
    EXPECT_EQ(ClampToNearestWorkArea({10, 790}, monitors), (os::ScreenPoint{10, 790}));
    // Beyond the right monitor's edge: x into its work area, y stays.
    EXPECT_EQ(ClampToNearestWorkArea({3000, 900}, monitors), (os::ScreenPoint{2499, 900}));
    // Left of everything: the first monitor.
    EXPECT_EQ(ClampToNearestWorkArea({-50, 900}, monitors), (os::ScreenPoint{0, 900}));
    // Below the first monitor, nearer to it than to the second.
    EXPECT_EQ(ClampToNearestWorkArea({600, 900}, monitors), (os::ScreenPoint{600, 900}));
}

TEST(FindTrayRect, NotifyAreaClockOrWholeTaskbar) {
    EXPECT_FALSE(FindTrayRectIn(std::nullopt));

    os::TaskbarFacts bar{{0, 760, 1280, 800}, {}};
    EXPECT_EQ(FindTrayRectIn(bar), (os::Rect{0, 760, 1280, 800}));

    bar.descendants = {{"Start", {0, 760, 50, 800}},
                       {"TrayNotifyWnd", {1100, 762, 1278, 798}},
                       {"TrayClockWClass", {1200, 762, 1278, 798}}};
    EXPECT_EQ(FindTrayRectIn(bar), (os::Rect{1100, 762, 1278, 798}));

    // The clock first: the taskbar up to the clock's left edge.
    bar.descendants = {{"TrayClockWClass", {1200, 762, 1278, 798}},
                       {"TrayNotifyWnd", {1100, 762, 1278, 798}}};
    EXPECT_EQ(FindTrayRectIn(bar), (os::Rect{0, 760, 1200, 800}));

    // Exact names only.
    bar.descendants = {{"traynotifywnd", {1, 1, 2, 2}}, {"TrayNotifyWndX", {3, 3, 4, 4}}};
    EXPECT_EQ(FindTrayRectIn(bar), (os::Rect{0, 760, 1280, 800}));
}

namespace {

class SlidePanel : public CSlideBehavior<SlidePanel> {
  public:
    bool IsPanelVisible() const { return visible; }
    void HidePanel() {
        visible = false;
        calls.push_back("hide");
    }
    void ShowPanelNormal() {
        visible = true;
        calls.push_back("show");
    }
    void BringPanelToTop() { calls.push_back("top"); }
    os::Rect GetPanelScreenRect() const { return {980, 500, 1280, 800}; }
    bool visible = false;
    std::vector<std::string> calls;
};

}  // namespace

TEST(SlideBehavior, WithoutTaskbarShowsAndHidesAtOnce) {
    SlidePanel panel;
    EXPECT_EQ(panel.AnimateTray(false), 0);
    panel.ToggleSlide();
    EXPECT_TRUE(panel.visible);
    panel.ToggleSlide();
    EXPECT_FALSE(panel.visible);
    EXPECT_EQ(panel.calls, (std::vector<std::string>{"top", "show", "hide"}));
}
