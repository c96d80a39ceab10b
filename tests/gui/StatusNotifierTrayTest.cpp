// The tray icon as a StatusNotifierItem, driven over the session bus (dbus-run-session) by a
// stand-in for the desktop's tray host.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "StatusNotifierHost.h"
#include "WebTestPanel.h"
#include "os/Window.h"
#include "panel/TrayIconImpl.h"

namespace {

using namespace std::chrono_literals;
using testsupport::PumpUntil;
using FakeTrayHost = testsupport::StatusNotifierHost;

class RecordingPanel : public CTrayIconImpl {
  public:
    RecordingPanel() : CTrayIconImpl([this](int command) { commands.push_back(command); }) {}
    std::vector<int> commands;
};

GVariant* Property(FakeTrayHost& host, const std::string& service, const char* name) {
    return host.ItemProperty(service, name);
}

std::string TooltipOf(FakeTrayHost& host, const std::string& service) {
    GVariant* tip = host.ItemProperty(service, "ToolTip");
    if (tip == nullptr) return "<none>";
    const gchar* title = nullptr;
    g_variant_get_child(tip, 2, "&s", &title);
    std::string text = title;
    g_variant_unref(tip);
    return text;
}

}  // namespace

TEST(StatusNotifierTray, HostActivationMenuClickAndRemoval) {
    ASSERT_TRUE(os::InitGuiToolkit());
    FakeTrayHost host;
    ASSERT_TRUE(host.Ready()) << "needs a session bus (run under dbus-run-session)";

    RecordingPanel panel;
    panel.SetDefaultCommand(ID_SHOW_MAIN);
    ASSERT_TRUE(panel.AddTrayIcon("", std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/skin/icon.png",
                                  TRAY_ICON_ID));
    ASSERT_TRUE(PumpUntil([&] { return !host.ItemsOf(getpid()).empty(); }));
    const std::string service = host.ItemsOf(getpid()).front();
    EXPECT_EQ(service.rfind("org.kde.StatusNotifierItem-", 0), 0u) << service;

    // What the host shows: the program's 64 x 64 icon, no tooltip text, a separate menu.
    GVariant* pixmaps = Property(host, service, "IconPixmap");
    ASSERT_NE(pixmaps, nullptr);
    ASSERT_EQ(g_variant_n_children(pixmaps), 1u);
    gint32 w = 0, h = 0;
    GVariant* bytes = nullptr;
    g_variant_get_child(pixmaps, 0, "(ii@ay)", &w, &h, &bytes);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 64);
    EXPECT_EQ(g_variant_n_children(bytes), 64u * 64u * 4u);
    g_variant_unref(bytes);
    g_variant_unref(pixmaps);
    GVariant* tip = Property(host, service, "ToolTip");
    ASSERT_NE(tip, nullptr);
    const gchar* title = nullptr;
    g_variant_get_child(tip, 2, "&s", &title);
    EXPECT_STREQ(title, "");
    g_variant_unref(tip);
    GVariant* menuPath = Property(host, service, "Menu");
    ASSERT_NE(menuPath, nullptr);
    const std::string menu = g_variant_get_string(menuPath, nullptr);
    g_variant_unref(menuPath);

    // The host's activation is the double-click: the default command.
    g_variant_unref(host.Call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                              "Activate", g_variant_new("(ii)", 10, 10)));
    ASSERT_TRUE(PumpUntil([&] { return !panel.commands.empty(); }));
    EXPECT_EQ(panel.commands, (std::vector<int>{ID_SHOW_MAIN}));
    panel.commands.clear();
    // Secondary activation and scrolling do nothing.
    g_variant_unref(host.Call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                              "SecondaryActivate", g_variant_new("(ii)", 10, 10)));
    PumpUntil([] { return false; }, 200ms);
    EXPECT_TRUE(panel.commands.empty());

    // The menu the host draws: the way back to the panel first, then "退出", which sends 2003.
    const auto entries = host.MenuOf(service);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].second, "显示主面板");
    EXPECT_EQ(entries[1].second, "退出");
    g_variant_unref(host.Call(
        service, menu.c_str(), "com.canonical.dbusmenu", "Event",
        g_variant_new("(isvu)", entries[1].first, "clicked", g_variant_new_int32(0), 0u)));
    ASSERT_TRUE(PumpUntil([&] { return !panel.commands.empty(); }));
    EXPECT_EQ(panel.commands, (std::vector<int>{ID_APP_EXIT}));

    // Removing the icon takes its name off the bus, which tells the host.
    EXPECT_TRUE(panel.RemoveTrayIcon());
    EXPECT_TRUE(PumpUntil([&] { return !host.HasOwner(service); }));
}

TEST(StatusNotifierTray, AHostThatStartsLaterOrRestartsGetsTheIconEachTime) {
    ASSERT_TRUE(os::InitGuiToolkit());
    RecordingPanel panel;
    std::vector<bool> heard;
    panel.SetHostHandler([&](bool shown) { heard.push_back(shown); });
    // No host yet (and no XEmbed manager on this display): not shown, but waiting.
    EXPECT_FALSE(panel.AddTrayIcon(
        "", std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/skin/icon.png", TRAY_ICON_ID));
    EXPECT_FALSE(panel.TrayIconAdded());

    auto host = std::make_unique<FakeTrayHost>();
    ASSERT_TRUE(host->Ready()) << "needs a session bus (run under dbus-run-session)";
    ASSERT_TRUE(
        PumpUntil([&] { return host->ItemsOf(getpid()).size() == 1 && panel.TrayIconAdded(); }));
    EXPECT_EQ(host->MenuOf(host->ItemsOf(getpid()).front()).size(), 2u);
    // The tooltip follows what is going on.
    panel.SetTooltip("正在下载 tool…");
    EXPECT_EQ(TooltipOf(*host, host->ItemsOf(getpid()).front()), "正在下载 tool…");

    // The host restarts: the icon is gone with it, then registered with the new one, once.
    host.reset();
    ASSERT_TRUE(PumpUntil([&] { return !panel.TrayIconAdded(); }));
    host = std::make_unique<FakeTrayHost>();
    ASSERT_TRUE(host->Ready());
    ASSERT_TRUE(
        PumpUntil([&] { return host->ItemsOf(getpid()).size() == 1 && panel.TrayIconAdded(); }));
    PumpUntil([] { return false; }, 300ms);
    EXPECT_EQ(host->ItemsOf(getpid()).size(), 1u);
    EXPECT_EQ(TooltipOf(*host, host->ItemsOf(getpid()).front()), "正在下载 tool…");
    EXPECT_EQ(heard, (std::vector<bool>{true, false, true}));

    // Once removed, a new host gets nothing.
    EXPECT_TRUE(panel.RemoveTrayIcon());
    host = std::make_unique<FakeTrayHost>();
    ASSERT_TRUE(host->Ready());
    PumpUntil([] { return false; }, 300ms);
    EXPECT_TRUE(host->ItemsOf(getpid()).empty());
}
