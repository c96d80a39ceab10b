// The installed program on its own X server with a real window manager (openbox): a panel that
// was minimised, hidden or covered comes forward again, a panel without a tray minimises
// instead of vanishing, the tray icon follows a tray host that comes late and restarts, the skin's
// head band drags it, and the skin's transparent corners show the desktop behind, at scale 1 and 2;
// a panel is first seen with its page already painted.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "ChildRun.h"
#include "InstalledFolder.h"
#include "LoopbackHttp.h"
#include "PrivateBus.h"
#include "StatusNotifierHost.h"
#include "TempDir.h"
#include "WebTestPanel.h"
#include "X11Windows.h"
#include "base/Settings.h"
#include "os/PixelBuffer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string RunTool(const std::vector<std::string>& argv) {
    return testsupport::RunChild(argv, 10s).output;
}

// A property of a window (or of the root with window 0) as xprop prints it.
std::string Property(unsigned long window, const std::string& name) {
    if (window == 0) return RunTool({"xprop", "-root", name});
    return RunTool({"xprop", "-id", std::to_string(window), name});
}

std::string WmState(unsigned long window) {
    const std::string text = Property(window, "WM_STATE");
    if (text.find("Iconic") != std::string::npos) return "Iconic";
    if (text.find("Normal") != std::string::npos) return "Normal";
    return "Withdrawn";
}

// Window ids in a root property that holds a list of windows ("0x..., 0x...").
std::vector<unsigned long> WindowList(const std::string& name) {
    const std::string text = Property(0, name);
    std::vector<unsigned long> ids;
    for (size_t at = text.find("0x"); at != std::string::npos; at = text.find("0x", at + 2))
        ids.push_back(std::strtoul(text.c_str() + at, nullptr, 16));
    return ids;
}

// The last window of such a list: the active one, or the topmost in the stacking order.
unsigned long LastOf(const std::string& name) {
    const auto ids = WindowList(name);
    return ids.empty() ? 0 : ids.back();
}
unsigned long ActiveWindow() {
    return LastOf("_NET_ACTIVE_WINDOW");
}
unsigned long TopWindow() {
    return LastOf("_NET_CLIENT_LIST_STACKING");
}

struct Geometry {
    long x = -1, y = -1, width = -1, height = -1;
};

Geometry GeometryOf(unsigned long window) {
    const std::string info = RunTool({"xwininfo", "-id", std::to_string(window)});
    auto read = [&](const char* key) {
        const auto at = info.find(key);
        return at == std::string::npos
                   ? -1L
                   : std::strtol(info.c_str() + at + std::strlen(key), nullptr, 10);
    };
    return {read("Absolute upper-left X:"), read("Absolute upper-left Y:"), read("Width:"),
            read("Height:")};
}

// A private X server with openbox managing it; this process and its children use it.
class DesktopWithWindowManager {
  public:
    DesktopWithWindowManager() {
        // The server picks a free display itself and writes its number to descriptor 3.
        const std::string numberFile = files_.File("display");
        server_ = std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{
            "sh", "-c",
            "exec Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -ac 3>'" + numberFile +
                "'"});
        // A loaded machine only makes the server and the window manager slow: wait for them
        // as long as they run, and give up only when one of them is missing or has failed.
        const auto numbered = [&] {
            return testsupport::ReadFile(numberFile).find('\n') != std::string::npos;
        };
        testsupport::WaitUntil([&] { return numbered() || !server_->Running(); }, 180s);
        ready_ = numbered();
        if (!ready_) return;
        display_ = ":" + std::to_string(std::atoi(testsupport::ReadFile(numberFile).c_str()));
        setenv("DISPLAY", display_.c_str(), 1);
        wm_ = std::make_unique<testsupport::ChildProcess>(
            std::vector<std::string>{"openbox", "--sm-disable"});
        const auto managed = [] {
            return Property(0, "_NET_SUPPORTING_WM_CHECK").find("0x") != std::string::npos;
        };
        testsupport::WaitUntil([&] { return managed() || !wm_->Running(); }, 180s);
        ready_ = managed();
    }
    ~DesktopWithWindowManager() {
        // A server that ends on its own terms removes its lock file and socket.
        wm_.reset();
        if (server_) {
            server_->Signal(SIGTERM);
            server_->Wait(10s);
        }
    }

    bool Ready() const { return ready_; }
    std::string Output() const {
        return display_ + ": " + (server_ ? server_->Output() : "") + (wm_ ? wm_->Output() : "");
    }

    // The screen's pixels.
    os::PixelBuffer Screenshot(const std::string& file) {
        RunTool({"import", "-window", "root", file});
        auto image = os::DecodeImageFile(file);
        return image ? *image : os::PixelBuffer{};
    }

  private:
    testsupport::TempDir files_;
    std::string display_;
    bool ready_ = false;
    std::unique_ptr<testsupport::ChildProcess> server_;
    std::unique_ptr<testsupport::ChildProcess> wm_;
};

// The maker's site for these tests: a main page that runs the commands the test queues.
class CommandSite {
  public:
    CommandSite() {
        http_.server.Get("/Brush.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(kPage, "text/html; charset=utf-8");
        });
        // A page whose content only exists once it has loaded, over a blue body.
        http_.server.Get("/Late.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"(<!DOCTYPE html><html><head><style>html,body{margin:0;height:100%;
background:#0000ff}#c{position:fixed;inset:0;background:#00ff00;color:#00ff00;filter:blur(2px)}
#c p{box-shadow:0 0 40px #00ff00}</style></head><body><script>
addEventListener('load', function () {
  var c = document.createElement('div'); c.id = 'c';
  for (var i = 0; i < 3000; i++) c.appendChild(document.createElement('p')).textContent = i;
  document.body.appendChild(c);
});</script></body></html>)",
                            "text/html; charset=utf-8");
        });
        http_.server.Get("/tool.zip", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            res.set_content(toolZip_, "application/zip");
        });
        http_.server.Get("/next", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex_);
            res.set_header("Cache-Control", "no-store");
            res.set_content(queue_.empty() ? "" : queue_.front(), "text/plain");
            if (!queue_.empty()) queue_.pop_front();
        });
        EXPECT_TRUE(http_.Start());
    }
    std::string PageUrl(const std::string& page = "Brush.html") const {
        return http_.BaseUrl() + "/" + page;
    }
    void Queue(const std::string& command) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(command);
    }
    bool Drained() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.empty();
    }
    // Serves /tool.zip: an archive holding tool.sh, a script that writes `marker`.
    void ServeTool(const std::string& marker) {
        testsupport::TempDir stage;
        testsupport::WriteFile(stage.File("tool.sh"), "#!/bin/sh\necho ran > '" + marker + "'\n");
        fs::permissions(stage.File("tool.sh"), fs::perms::owner_all);
        const auto zipped = testsupport::RunChild(
            {"sh", "-c", "cd '" + stage.path() + "' && zip -q tool.zip tool.sh"}, 20s);
        ASSERT_EQ(zipped.exitCode, 0) << zipped.output;
        std::lock_guard<std::mutex> lock(mutex_);
        toolZip_ = testsupport::ReadFile(stage.File("tool.zip"));
    }

  private:
    static constexpr const char* kPage = R"(<!DOCTYPE html><html><head><meta charset="utf-8">
<style>html,body{margin:0;height:100%;background:#fff}</style></head><body><div id="b"></div>
<script>
var el = document.getElementById('b');
function poll() {
  fetch('/next').then(function (r) { return r.text(); }).then(function (text) {
    if (text) { el.setAttribute('param', text); window.external.Call(el); }
    setTimeout(poll, 100);
  }).catch(function () { setTimeout(poll, 300); });
}
poll();
</script></body></html>)";

    loopback::HttplibServer http_;
    std::mutex mutex_;
    std::deque<std::string> queue_;
    std::string toolZip_;
};

// The desktop's notification server as far as the program uses it: it records what it is asked
// to show and can report a click on a notification.
class NotificationServer {
  public:
    explicit NotificationServer(const testsupport::PrivateBus& bus) {
        bus_ = bus.Connect();
        if (bus_ == nullptr) return;
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(R"xml(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="as" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="i" direction="in"/><arg type="u" direction="out"/></method>
  </interface></node>)xml",
                                                           nullptr);
        static const GDBusInterfaceVTable vtable{OnMethod, nullptr, nullptr, {}};
        objectId_ =
            g_dbus_connection_register_object(bus_, "/org/freedesktop/Notifications",
                                              node->interfaces[0], &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        nameId_ = g_bus_own_name_on_connection(
            bus_, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
            +[](GDBusConnection*, const gchar*, gpointer self) {
                static_cast<NotificationServer*>(self)->owned_ = true;
            },
            nullptr, this, nullptr);
    }
    ~NotificationServer() {
        if (nameId_ != 0) g_bus_unown_name(nameId_);
        if (objectId_ != 0) g_dbus_connection_unregister_object(bus_, objectId_);
        if (bus_ != nullptr) g_object_unref(bus_);
    }
    bool Ready() {
        return bus_ != nullptr && testsupport::PumpUntil([&] { return owned_; }, 5s);
    }
    // The user clicks notification `id`.
    void Click(guint32 id) {
        g_dbus_connection_emit_signal(bus_, nullptr, "/org/freedesktop/Notifications",
                                      "org.freedesktop.Notifications", "ActionInvoked",
                                      g_variant_new("(us)", id, "default"), nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    }

    std::vector<std::string> summaries;  // notification n has the id n + 1
    std::vector<std::string> bodies;

  private:
    static void OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
        auto* server = static_cast<NotificationServer*>(self);
        const gchar* summary = nullptr;
        const gchar* body = nullptr;
        g_variant_get_child(params, 3, "&s", &summary);
        g_variant_get_child(params, 4, "&s", &body);
        server->summaries.push_back(summary);
        server->bodies.push_back(body);
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(u)", static_cast<guint32>(server->summaries.size())));
    }

    GDBusConnection* bus_ = nullptr;
    guint objectId_ = 0;
    guint nameId_ = 0;
    bool owned_ = false;
};

class WindowManager : public testing::Test {
  protected:
    void SetUp() override {
        if (!MAPLENOOK_TEST_HOOKS) GTEST_SKIP() << "the program must take the test's addresses";
        if (!desktop_.Ready()) GTEST_SKIP() << "no Xvfb with openbox here: " << desktop_.Output();
        // The shipped skin: a head band over paper, with rounded, fully transparent corners.
        fs::copy_file(std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/skin/mainpanel.png",
                      folder_.File("res/skin/main.png"), fs::copy_options::overwrite_existing);
        folder_.WriteSettings(
            "[app]\nwnd=0\n[resource]\ntotal=1\n1=\\res\\skin\\main.png\n"
            "[mainpanel]\ntitle=MapleNook\nbkimage=1\nheadheight=32\nfootheight=0\n");
        fs::create_directories(folder_.File("home"));
    }

    std::unique_ptr<testsupport::ChildProcess> Start(testsupport::EnvOverrides extra = {}) {
        auto env = folder_.Env();
        env.push_back({"MAPLENOOK_TEST_PAGE_URL", pageUrl_.empty() ? site_.PageUrl() : pageUrl_});
        env.push_back({"HOME", folder_.File("home")});
        env.push_back({"XDG_CONFIG_HOME", folder_.File("home/config")});
        env.push_back({"XDG_DATA_HOME", folder_.File("home/data")});
        // No session bus and no XEmbed tray on this display: the program runs without a tray.
        env.push_back({"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder_.File("no-bus")});
        for (auto& e : extra) env.push_back(e);
        return std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{folder_.exe()},
                                                           env, folder_.dir());
    }

    // Starts the program and waits for its panel to be shown; its window id.
    unsigned long StartShown(testsupport::EnvOverrides extra = {}) {
        program_ = Start(std::move(extra));
        unsigned long panel = 0;
        testsupport::WaitUntil(
            [&] {
                panel = static_cast<unsigned long>(
                    ReadSettingInt(folder_.settingsPath(), "app", "wnd"));
                return panel != 0 && WmState(panel) == "Normal";
            },
            30s);
        return panel;
    }

    // A second start hands over, and the panel comes forward: shown, active and on top.
    void SecondStartBringsForward(unsigned long panel) {
        const auto outcome = Start()->Wait(30s);
        EXPECT_TRUE(outcome.exited) << outcome.output;
        EXPECT_EQ(outcome.exitCode, 1) << "the first instance answers the hand-over";
        EXPECT_TRUE(testsupport::WaitUntil(
            [&] {
                return WmState(panel) == "Normal" && ActiveWindow() == panel &&
                       TopWindow() == panel;
            },
            20s))
            << WmState(panel) << " active " << ActiveWindow();
    }

    // Covers the panel with a focused window of another program.
    std::unique_ptr<testsupport::ChildProcess> Cover() {
        auto cover = std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{
            "xmessage", "-geometry", "900x900+0+0", "-name", "cover", "covering window"});
        unsigned long window = 0;
        testsupport::WaitUntil(
            [&] {
                window = TopWindow();
                return window != 0 && window == ActiveWindow() &&
                       Property(window, "WM_CLASS").find("cover") != std::string::npos;
            },
            20s);
        EXPECT_NE(window, 0u);
        return cover;
    }

    DesktopWithWindowManager desktop_;
    testsupport::InstalledFolder folder_;
    CommandSite site_;
    // A window of the program that can be seen, other than `other`; 0 when there is none.
    unsigned long ShownWindowBesides(unsigned long other) {
        for (unsigned long window : testsupport::FindWindowsOf(program_->pid()))
            if (window != other && testsupport::IsWindowViewable(window)) return window;
        return 0;
    }

    std::unique_ptr<testsupport::ChildProcess> program_;
    std::string pageUrl_;  // the site's command page when empty
};

TEST_F(WindowManager, ASecondStartBringsAMinimisedOrCoveredPanelForward) {
    const unsigned long panel = StartShown();
    ASSERT_NE(panel, 0u) << program_->Output();
    auto cover = Cover();
    SecondStartBringsForward(panel);
    // Minimised with the page's own button, covered again: it comes back from a second start.
    site_.Queue("app:panel.minsize");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return WmState(panel) == "Iconic"; }, 20s));
    auto cover2 = Cover();
    SecondStartBringsForward(panel);
}

TEST_F(WindowManager, WithoutATrayHidingMinimisesAndTheTaskbarStillHasThePanel) {
    const unsigned long panel = StartShown();
    ASSERT_NE(panel, 0u) << program_->Output();
    // The page's hide button, then the window manager's close: never withdrawn, only iconic.
    site_.Queue("app:panel.hide");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return WmState(panel) == "Iconic"; }, 20s))
        << WmState(panel);
    const auto listed = WindowList("_NET_CLIENT_LIST");
    EXPECT_NE(std::find(listed.begin(), listed.end(), panel), listed.end());
    SecondStartBringsForward(panel);
}

TEST_F(WindowManager, TheTrayIconFollowsItsHostAndAPanelHiddenThereIsNeverLost) {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr) GTEST_SKIP() << "needs a session bus (run under dbus-run-session)";
    const unsigned long panel = StartShown({{"DBUS_SESSION_BUS_ADDRESS", bus}});
    ASSERT_NE(panel, 0u) << program_->Output();
    auto isIconic = [&] { return WmState(panel) == "Iconic"; };

    // The host starts after the program: it gets the icon, with the way back first.
    auto host = std::make_unique<testsupport::StatusNotifierHost>();
    ASSERT_TRUE(host->Ready());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return host->items.size() == 1; }, 20s))
        << program_->Output();
    const auto menu = host->MenuOf(host->items.front());
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].second, "显示主面板");
    EXPECT_EQ(menu[1].second, "退出");
    site_.Queue("app:panel.hide");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return WmState(panel) == "Withdrawn"; }, 20s));

    // The host goes: the hidden panel comes back minimised; hiding now minimises.
    host.reset();
    ASSERT_TRUE(testsupport::WaitUntil(isIconic, 20s)) << WmState(panel);
    SecondStartBringsForward(panel);
    site_.Queue("app:panel.hide");
    ASSERT_TRUE(testsupport::WaitUntil(isIconic, 20s)) << WmState(panel);

    // It restarts: the icon is registered again, and its menu's first item shows the panel.
    host = std::make_unique<testsupport::StatusNotifierHost>();
    ASSERT_TRUE(host->Ready());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return host->items.size() == 1; }, 20s));
    const std::string service = host->items.front();
    GVariant* path = host->ItemProperty(service, "Menu");
    ASSERT_NE(path, nullptr);
    const std::string menuPath = g_variant_get_string(path, nullptr);
    g_variant_unref(path);
    const auto again = host->MenuOf(service);
    ASSERT_EQ(again.size(), 2u);
    GVariant* reply =
        host->Call(service, menuPath.c_str(), "com.canonical.dbusmenu", "Event",
                   g_variant_new("(isvu)", again[0].first, "clicked", g_variant_new_int32(0), 0u));
    if (reply != nullptr) g_variant_unref(reply);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return WmState(panel) == "Normal"; }, 20s))
        << WmState(panel);
}

// One click on the icon in an XEmbed tray does what it does on a StatusNotifier host.
TEST_F(WindowManager, OneClickOnTheXEmbedTrayIconBringsAHiddenPanelBack) {
    testsupport::TrayHostStandIn tray;
    ASSERT_TRUE(tray.Owning());
    const unsigned long panel = StartShown();
    ASSERT_NE(panel, 0u) << program_->Output();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return tray.DockedIcon(1500, 1100) != 0; }, 20s));
    site_.Queue("app:panel.hide");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return WmState(panel) == "Withdrawn"; }, 20s))
        << WmState(panel);
    testsupport::PumpUntil([] { return false; }, 500ms);  // the icon has drawn itself
    ASSERT_TRUE(testsupport::DragPointer(1516, 1116, 1516, 1116));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return WmState(panel) == "Normal"; }, 20s))
        << WmState(panel);
}

// 退出 in the tray's menu ends the program even while the folder chooser is open.
TEST_F(WindowManager, TheTraysQuitClosesAnOpenFolderChooserAndEndsTheProgram) {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr) GTEST_SKIP() << "needs a session bus (run under dbus-run-session)";
    testsupport::StatusNotifierHost host;
    ASSERT_TRUE(host.Ready());
    const unsigned long panel = StartShown({{"DBUS_SESSION_BUS_ADDRESS", bus}});
    ASSERT_NE(panel, 0u) << program_->Output();
    ASSERT_TRUE(testsupport::PumpUntil([&] { return host.items.size() == 1; }, 20s));
    const std::string service = host.items.front();
    site_.Queue("app:app.setpath");
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return !testsupport::FindWindowsOf(program_->pid(), "缓存目录").empty(); }, 20s));
    GVariant* path = host.ItemProperty(service, "Menu");
    ASSERT_NE(path, nullptr);
    const std::string menuPath = g_variant_get_string(path, nullptr);
    g_variant_unref(path);
    const auto menu = host.MenuOf(service);
    ASSERT_EQ(menu.size(), 2u);
    ASSERT_EQ(menu[1].second, "退出");
    GVariant* reply =
        host.Call(service, menuPath.c_str(), "com.canonical.dbusmenu", "Event",
                  g_variant_new("(isvu)", menu[1].first, "clicked", g_variant_new_int32(0), 0u));
    if (reply != nullptr) g_variant_unref(reply);
    const auto outcome = program_->Wait(20s);
    EXPECT_TRUE(outcome.exited) << outcome.output;
    EXPECT_EQ(outcome.exitCode, 0);
}

// Notices name a tool as the page does: a start that hides the panel is announced; a failure
// while the panel is away is one notification, with its cause, that brings the panel back.
TEST_F(WindowManager, NoticesUseThePagesNamesAndAFailureWhileAwayBringsThePanelBack) {
    // A bus of this test's own: a notification daemon that the desktop activated for an earlier
    // test holds the name on the shared one.
    testsupport::PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    NotificationServer server(bus);
    ASSERT_TRUE(server.Ready());
    const std::string marker = folder_.File("tool.ran");
    site_.ServeTool(marker);
    const unsigned long panel = StartShown({{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    ASSERT_NE(panel, 0u) << program_->Output();
    site_.Queue("app:app.runbrush&tool.sh&" + site_.PageUrl("tool.zip") + "&解锁助手");
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !server.summaries.empty(); }, 30s))
        << program_->Output();
    EXPECT_EQ(server.summaries[0], "解锁助手 已启动");
    EXPECT_TRUE(testsupport::WaitUntil([&] { return fs::exists(marker); }, 20s));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return WmState(panel) == "Iconic"; }, 20s));
    // The site has no such archive: the download fails with 404.
    site_.Queue("app:app.runbrush&flashtool.exe&" + site_.PageUrl("flashtool.zip") + "&一键刷机");
    ASSERT_TRUE(testsupport::PumpUntil([&] { return server.summaries.size() > 1; }, 20s))
        << program_->Output();
    testsupport::PumpUntil([] { return false; }, 1s);
    ASSERT_EQ(server.summaries.size(), 2u);
    EXPECT_EQ(server.summaries[1], "一键刷机 下载失败");
    EXPECT_NE(server.bodies[1].find("HTTP 404"), std::string::npos) << server.bodies[1];
    server.Click(2);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return WmState(panel) == "Normal"; }, 20s))
        << WmState(panel);
}

TEST_F(WindowManager, TheSkinsHeadBandDragsThePanelAndThePageBodyDoesNot) {
    const unsigned long panel = StartShown();
    ASSERT_NE(panel, 0u) << program_->Output();
    const Geometry before = GeometryOf(panel);
    // A press on the page (below the band) moves nothing.
    ASSERT_TRUE(
        testsupport::DragPointer(before.x + 100, before.y + 200, before.x + 40, before.y + 150));
    EXPECT_FALSE(testsupport::WaitUntil([&] { return GeometryOf(panel).x != before.x; }, 1s));
    // The band (32 pixels high) drags it by the pointer's motion.
    ASSERT_TRUE(
        testsupport::DragPointer(before.x + 150, before.y + 16, before.x + 50, before.y - 34));
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] {
            const Geometry now = GeometryOf(panel);
            return now.x == before.x - 100 && now.y == before.y - 50;
        },
        10s))
        << GeometryOf(panel).x << "," << GeometryOf(panel).y << " from " << before.x << ","
        << before.y;
}

// Whether the screenshot pixel is the root window's magenta.
bool IsRoot(const os::PixelBuffer& shot, long x, long y) {
    if (x < 0 || y < 0 || x >= shot.width || y >= shot.height) return false;
    const uint32_t p = shot.at(static_cast<int>(x), static_cast<int>(y)) & 0xFFFFFF;
    return p == 0xFF00FF;
}

void ExpectCornersShowTheDesktop(DesktopWithWindowManager& desktop, unsigned long panel,
                                 const std::string& shotFile, int scale, long width = 360,
                                 long height = 560) {
    SCOPED_TRACE(shotFile);
    const Geometry g = GeometryOf(panel);
    ASSERT_EQ(g.width, width * scale);
    ASSERT_EQ(g.height, height * scale);
    os::PixelBuffer shot;
    // The skin is painted once the window is mapped; allow for the first frames.
    testsupport::WaitUntil(
        [&] {
            shot = desktop.Screenshot(shotFile);
            return !IsRoot(shot, g.x + g.width / 2, g.y + 16 * scale);
        },
        10s);
    ASSERT_FALSE(shot.empty());
    // Every corner pixel shows the desktop (no white or black square), top and bottom, where
    // the web view reaches the rounded bottom corners too.
    for (long dx : {0L, g.width - 1}) {
        for (long dy : {0L, g.height - 1})
            EXPECT_TRUE(IsRoot(shot, g.x + dx, g.y + dy))
                << "corner " << dx << "," << dy << ": " << std::hex
                << shot.at(static_cast<int>(g.x + dx), static_cast<int>(g.y + dy));
    }
    // The band and the edges between the corners are the panel's.
    EXPECT_FALSE(IsRoot(shot, g.x + g.width / 2, g.y + 1));
    EXPECT_FALSE(IsRoot(shot, g.x + 1, g.y + g.height / 2));
    EXPECT_FALSE(IsRoot(shot, g.x + 12 * scale, g.y + 12 * scale));
}

TEST_F(WindowManager, TransparentSkinCornersShowTheDesktopAtScaleOneAndTwo) {
    RunTool({"xsetroot", "-solid", "#ff00ff"});
    for (const char* skin : {"plash", "poppanel"})
        fs::copy_file(std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/skin/" + skin + ".png",
                      folder_.File(std::string("res/skin/") + skin + ".png"));
    folder_.WriteSettings(
        "[app]\nwnd=0\n[resource]\ntotal=3\n1=\\res\\skin\\main.png\n"
        "2=\\res\\skin\\plash.png\n3=\\res\\skin\\poppanel.png\n"
        "[mainpanel]\ntitle=MapleNook\nbkimage=1\nheadheight=32\nfootheight=0\n"
        "[plash]\nbkimage=2\n[poppanel]\nbkimage=3\nheadheight=24\n");
    const unsigned long panel = StartShown();
    ASSERT_NE(panel, 0u) << program_->Output();
    ExpectCornersShowTheDesktop(desktop_, panel, folder_.File("shot1.png"), 1);
    program_.reset();

    const unsigned long scaled = StartShown({{"GDK_SCALE", "2"}});
    ASSERT_NE(scaled, 0u) << program_->Output();
    ExpectCornersShowTheDesktop(desktop_, scaled, folder_.File("shot2.png"), 2);

    // The pop panel (a 300 x 200 skin) at scale 2 too, over the desktop: the main panel is
    // minimised first, as it would lie behind the pop panel's corner otherwise.
    site_.Queue("app:panel.hide");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return WmState(scaled) == "Iconic"; }, 20s));
    site_.Queue("app:panel.pop");
    unsigned long pop = 0;
    ASSERT_TRUE(
        testsupport::WaitUntil([&] { return (pop = ShownWindowBesides(scaled)) != 0; }, 20s));
    ExpectCornersShowTheDesktop(desktop_, pop, folder_.File("shot3.png"), 2, 300, 200);
    program_.reset();

    // The splash (a 420 x 260 skin) stays while the main page never answers: a loopback
    // socket that listens and never accepts.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    pageUrl_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
    program_ = Start({{"GDK_SCALE", "2"}});
    unsigned long splash = 0;
    ASSERT_TRUE(testsupport::WaitUntil([&] { return (splash = ShownWindowBesides(0)) != 0; }, 20s));
    ExpectCornersShowTheDesktop(desktop_, splash, folder_.File("shot4.png"), 2, 420, 260);
    program_.reset();
    close(silent);
}

TEST_F(WindowManager, ThePanelIsFirstSeenWithItsPagePaintedNotAnEmptyBody) {
    RunTool({"xsetroot", "-solid", "#ff00ff"});
    pageUrl_ = site_.PageUrl("Late.html");
    program_ = Start();
    unsigned long panel = 0;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            panel =
                static_cast<unsigned long>(ReadSettingInt(folder_.settingsPath(), "app", "wnd"));
            return panel != 0;
        },
        30s))
        << program_->Output();
    // The first colour other than the desktop's seen in the body is the page's content, never
    // the body's blue that only an unpainted page shows. Sampled without pause to catch a flash.
    long first = -1;
    const auto bound = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < bound) {
        first = testsupport::ScreenPixelAt(panel, 180, 300);
        if (first != -1 && first != 0xFF00FF) break;
    }
    EXPECT_EQ(first, 0x00FF00) << std::hex << first << program_->Output();
}

}  // namespace
