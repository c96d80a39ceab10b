// Real windows under Xvfb (1280x800, no window manager, no tray host).
#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "ChildRun.h"
#include "TempDir.h"
#include "WebTestPanel.h"
#include "X11Windows.h"
#include "base/MessageLoop.h"
#include "os/PixelBuffer.h"
#include "os/Screen.h"
#include "os/Tray.h"
#include "os/Window.h"
#include "panel/ImageRegistry.h"
#include "panel/PanelImpl.h"
#include "panel/PopPanel.h"
#include "panel/TrayIconImpl.h"
#include "panel/WebPanel.h"

// Last: the X11 headers it pulls in define macros (None) that gtest's own names clash with.
#include <gdk/gdkx.h>

namespace {

using namespace std::chrono_literals;

// Runs the GUI loop until `done` or the time is up; whether `done` came true.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
    }
    return true;
}

void Pump(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
}

std::string SkinPath(const std::string& name) {
    return std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/skin/" + name;
}

std::string ArtefactPath(const std::string& name) {
    const std::string dir = std::string(MAPLENOOK_TEST_BINARY_DIR) + "/artefacts";
    std::filesystem::create_directories(dir);
    return dir + "/" + name;
}

// The whole X screen as the user would see it.
os::PixelBuffer CaptureScreen(const std::string& artefact) {
    const std::string path = ArtefactPath(artefact);
    const auto outcome = testsupport::RunChild({"import", "-window", "root", path}, 20000ms);
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.output;
    auto image = os::DecodeImageFile(path);
    EXPECT_TRUE(image.has_value());
    return image ? *image : os::PixelBuffer{};
}

uint32_t Rgb(uint32_t argb) {
    return argb & 0xFFFFFF;
}

int Channel(uint32_t argb, int shift) {
    return static_cast<int>((argb >> shift) & 0xFF);
}

class SkinnedPanels : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(os::InitGuiToolkit()) << "needs an X display (run under xvfb-run)";
        cfg_ = dir_.File("cfg.ini");
        testsupport::WriteFile(cfg_,
                               "[mainpanel]\ntitle=MapleNook\nbkimage=1\nbkmode=4\n"
                               "headheight=32\n[plash]\nbkimage=2\nbkmode=4\n"
                               "[poppanel]\nbkimage=3\nbkmode=4\nheadheight=24\n");
        ASSERT_NE(GetImageRegistry().RegisterImage("1", SkinPath("mainpanel.png")), nullptr);
        ASSERT_NE(GetImageRegistry().RegisterImage("2", SkinPath("plash.png")), nullptr);
        ASSERT_NE(GetImageRegistry().RegisterImage("3", SkinPath("poppanel.png")), nullptr);
    }

    // The main panel shown at a known place, for tests that send it input.
    static bool ShowAtKnownPlace(CWebPanel& panel) {
        if (!panel.CreatePanel()) return false;
        panel.Window()->MoveResize(kPlace);
        panel.Window()->Show();
        return PumpUntil([&] { return panel.Window()->ScreenRect() == kPlace; });
    }
    static constexpr os::Rect kPlace{100, 100, 460, 660};

    testsupport::TempDir dir_;
    std::string cfg_;
};

}  // namespace

TEST_F(SkinnedPanels, PopPanelSitsBottomRightAboveOthersWithoutTaskbarEntryAndTogglesAndGoes) {
    bool gone = false;
    bool deleted = false;
    // Records its own deletion, which the pop panel does by itself.
    struct WatchedPopPanel : CPopPanel {
        WatchedPopPanel(const std::string& cfg, std::function<void()> onGone, bool& deleted)
            : CPopPanel(cfg, std::move(onGone)), deleted(deleted) {}
        ~WatchedPopPanel() override { deleted = true; }
        bool& deleted;
    };
    CPopPanel* pop = new WatchedPopPanel(
        cfg_, [&gone] { gone = true; }, deleted);
    ASSERT_TRUE(pop->CreatePanel());
    os::Window* window = pop->Window();
    ASSERT_NE(window, nullptr);
    // Sized from the 300 x 200 skin, bottom-right of the 1280 x 800 screen (Xvfb has no
    // panels, so the work area is the whole screen).
    EXPECT_EQ(window->ScreenRect(), (os::Rect{980, 600, 1280, 800}));
    EXPECT_TRUE(window->IsKeepAbove());
    EXPECT_TRUE(window->IsSkipTaskbar());
    EXPECT_FALSE(window->IsVisible()) << "created hidden";
    EXPECT_EQ(pop->Skin().BodyRect(), (os::Rect{0, 24, 300, 200}));

    pop->ToggleSlide();
    EXPECT_TRUE(window->IsVisible());
    ASSERT_TRUE(PumpUntil([&] { return window->Handle() != 0; }));
    Pump(300ms);
    const os::PixelBuffer shown = CaptureScreen("poppanel.png");
    ASSERT_EQ(shown.width, 1280);
    // The head band's dark teal at the panel's top-left area, the paper-coloured body below.
    const uint32_t head = shown.at(980 + 40, 600 + 12);
    EXPECT_LT(Channel(head, 16), 80) << std::hex << head;
    EXPECT_GT(Channel(head, 8), Channel(head, 16));
    EXPECT_EQ(Rgb(shown.at(970, 700)), Rgb(shown.at(10, 10))) << "nothing left of the panel";

    pop->ToggleSlide();
    EXPECT_FALSE(window->IsVisible());
    pop->ToggleSlide();
    EXPECT_TRUE(window->IsVisible());
    EXPECT_EQ(window->ScreenRect(), (os::Rect{980, 600, 1280, 800})) << "showing never moves";

    // The page closes its panel: the owner is told, then the object deletes itself.
    pop->Bridge().Execute(std::string("app:panel.close"));
    EXPECT_TRUE(gone);
    EXPECT_FALSE(deleted) << "not inside its own call";
    EXPECT_TRUE(PumpUntil([&] { return deleted; }));
}

TEST_F(SkinnedPanels, SplashIsCentredSkinnedAndInTheTaskbar) {
    CPanelImpl splash("plash", cfg_);
    ASSERT_TRUE(splash.Create());
    os::Window* window = splash.Window();
    // The window system applies the size once the window is mapped.
    EXPECT_TRUE(PumpUntil([&] {
        return window->ScreenRect() == os::Rect{430, 270, 850, 530};
    })) << window->ScreenRect().left
        << "," << window->ScreenRect().top << " " << window->ScreenRect().width() << "x"
        << window->ScreenRect().height();
    EXPECT_FALSE(window->IsSkipTaskbar());
    EXPECT_TRUE(window->IsVisible());
    ASSERT_TRUE(PumpUntil([&] { return window->Handle() != 0; }));
    Pump(300ms);
    const os::PixelBuffer screen = CaptureScreen("splash.png");
    ASSERT_EQ(screen.width, 1280);
    const os::PixelBuffer& skin = *GetImageRegistry().FindImage("2");
    // Opaque skin pixels show as they are stored.
    for (auto [x, y] : {std::pair{200, 130}, std::pair{20, 200}, std::pair{400, 40}}) {
        const uint32_t want = skin.at(x, y);
        ASSERT_EQ(want >> 24, 0xFFu);
        const uint32_t got = screen.at(430 + x, 270 + y);
        for (int shift : {0, 8, 16}) EXPECT_NEAR(Channel(got, shift), Channel(want, shift), 2);
    }
    // The rounded corner is transparent in the skin: it lies outside the window, so the
    // desktop shows there, not the window's white background.
    EXPECT_EQ(skin.at(0, 0) >> 24, 0u);
    EXPECT_EQ(Rgb(screen.at(430, 270)), Rgb(screen.at(5, 5)));
    EXPECT_NE(Rgb(screen.at(430, 270)), 0xFFFFFFu);
    splash.Destroy();
    EXPECT_FALSE(splash.IsWindow());
}

TEST_F(SkinnedPanels, MainWebPanelPaintsHeadBandTitleAndPutsThePageOnTheBody) {
    const std::string page = dir_.File("page.html");
    testsupport::WriteFile(page, "<html><body style='margin:0;background:#3050d0'></body></html>");
    CWebPanel panel("mainpanel", cfg_, 0);
    ASSERT_TRUE(panel.CreatePanel());
    os::Window* window = panel.Window();
    EXPECT_EQ(window->Title(), "MapleNook");
    EXPECT_EQ(window->ScreenRect().width(), 360);
    EXPECT_EQ(window->ScreenRect().height(), 560);
    EXPECT_EQ(panel.Skin().BodyRect(), (os::Rect{0, 32, 360, 560}));
    ASSERT_TRUE(panel.NavigatePage(panel.ToFileUrl(page)));
    window->Show();
    ASSERT_TRUE(PumpUntil([&] { return window->ScreenRect().height() == 560; }));
    Pump(1500ms);
    const os::PixelBuffer screen = CaptureScreen("mainpanel.png");
    ASSERT_EQ(screen.width, 1280);
    const os::Rect r = window->ScreenRect();
    // The page fills the body band exactly.
    EXPECT_EQ(Rgb(screen.at(r.left + 180, r.top + 300)), 0x3050D0u);
    EXPECT_EQ(Rgb(screen.at(r.left + 180, r.top + 32)), 0x3050D0u);
    EXPECT_NE(Rgb(screen.at(r.left + 180, r.top + 31)), 0x3050D0u);
    // The head band: dark skin with the title in white from (10, 4).
    int white = 0;
    for (int y = r.top; y < r.top + 32; ++y) {
        for (int x = r.left; x < r.left + 200; ++x) {
            // The rounded corner lets the window's white background through.
            if (x < r.left + 12 && y < r.top + 12) continue;
            const uint32_t p = screen.at(x, y);
            if (Channel(p, 16) > 230 && Channel(p, 8) > 230 && Channel(p, 0) > 230) {
                ++white;
                EXPECT_GE(x, r.left + 10);
                EXPECT_GE(y, r.top + 4);
            }
        }
    }
    EXPECT_GT(white, 40) << "the title is painted";
    panel.ClosePanel();
    EXPECT_FALSE(panel.HasWindow());
}

namespace {

class NoTrayPanel : public CTrayIconImpl {
  public:
    NoTrayPanel() : CTrayIconImpl([](int) {}) {}
};

}  // namespace

TEST(TrayWithoutHost, AddingFailsAndNothingIsDeletedAtTheEnd) {
    ASSERT_TRUE(os::InitGuiToolkit());
    NoTrayPanel panel;
    panel.SetDefaultCommand(ID_SHOW_MAIN);
    panel.AddProgramIcon();
    EXPECT_FALSE(panel.TrayIconAdded());
    EXPECT_FALSE(panel.RemoveTrayIcon());
}

TEST(TrayWithXEmbedManager, AddingSucceedsAndTheIconIsDeletedOnce) {
    ASSERT_TRUE(os::InitGuiToolkit());
    // Stand in for a tray manager: own the system-tray selection of screen 0.
    GtkWidget* manager = gtk_invisible_new();
    gtk_widget_realize(manager);
    GdkDisplay* display = gdk_display_get_default();
    const std::string selection = "_NET_SYSTEM_TRAY_S0";  // Xvfb's only screen
    ASSERT_TRUE(gdk_selection_owner_set_for_display(display, gtk_widget_get_window(manager),
                                                    gdk_atom_intern(selection.c_str(), FALSE),
                                                    GDK_CURRENT_TIME, FALSE));
    NoTrayPanel panel;
    panel.AddProgramIcon();
    EXPECT_TRUE(panel.TrayIconAdded());
    // The manager goes and another takes the selection: the icon follows.
    gtk_widget_destroy(manager);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !panel.TrayIconAdded(); }, 5s));
    testsupport::TrayHostStandIn next;
    ASSERT_TRUE(next.Owning());
    EXPECT_TRUE(testsupport::PumpUntil([&] { return panel.TrayIconAdded(); }, 5s));
    EXPECT_TRUE(panel.RemoveTrayIcon());
    EXPECT_FALSE(panel.RemoveTrayIcon());
}

TEST_F(SkinnedPanels, AKeyHeldWhenTheFocusLeavesIsNotHeldAfterwards) {
    CMessageLoop loop;
    RegisterMessageLoop(&loop);
    CWebPanel panel("mainpanel", cfg_, 0);
    ASSERT_TRUE(ShowAtKnownPlace(panel));
    os::Window* window = panel.Window();
    GtkWidget* toplevel = nullptr;
    gdk_window_get_user_data(
        gdk_x11_window_lookup_for_display(gdk_display_get_default(), window->Handle()),
        reinterpret_cast<gpointer*>(&toplevel));
    ASSERT_NE(toplevel, nullptr);
    // The pointer over the page, where the panel takes keys before the page.
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    gdk_device_warp(gdk_seat_get_pointer(seat), gdk_screen_get_default(), 200, 300);
    ASSERT_TRUE(PumpUntil([] { return os::CursorPosition() == os::ScreenPoint{200, 300}; }));
    // A handler after the panel's: it sees only the keys the panel let through.
    int passed = 0;
    g_signal_connect(toplevel, "key-press-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEventKey*, gpointer n) -> gboolean {
                         ++*static_cast<int*>(n);
                         return TRUE;
                     }),
                     &passed);
    auto deliver = [&](GdkEventType type, guint keyval, guint16 code) {
        GdkEvent* event = gdk_event_new(type);
        if (type == GDK_FOCUS_CHANGE) {
            event->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(toplevel)));
            event->focus_change.in = FALSE;
        } else {
            event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(toplevel)));
            event->key.keyval = keyval;
            event->key.hardware_keycode = code;
            gdk_event_set_device(event, gdk_seat_get_keyboard(seat));
        }
        gtk_main_do_event(event);
        gdk_event_free(event);
    };
    deliver(GDK_KEY_PRESS, GDK_KEY_F5, 71);
    deliver(GDK_KEY_PRESS, GDK_KEY_a, 38);
    EXPECT_EQ(passed, 0) << "F5 held: every key is eaten";
    // F5 is let go while another window has the focus; this window only loses the focus.
    deliver(GDK_FOCUS_CHANGE, 0, 0);
    deliver(GDK_KEY_PRESS, GDK_KEY_a, 38);
    EXPECT_EQ(passed, 1);
    panel.ClosePanel();
    UnregisterMessageLoop();
}

TEST_F(SkinnedPanels, KeysReachThePageOnlyWhileThePointerIsOverIt) {
    CMessageLoop loop;
    RegisterMessageLoop(&loop);
    CWebPanel panel("mainpanel", cfg_, 0);
    ASSERT_TRUE(ShowAtKnownPlace(panel));
    os::Window* window = panel.Window();
    const long handle = window->Handle();
    // A key message as the window hands it to the loop, with the pointer where it was.
    auto offer = [&](os::Key key, bool down, int x, int y, long target) {
        Message msg;
        msg.window = target;
        msg.code = down ? kMessageKeyDown : kMessageKeyUp;
        msg.key = key;
        msg.pointX = x;
        msg.pointY = y;
        return loop.PreTranslateMessage(msg);
    };
    // Over the head band: not offered to the page's key handling, so F5 is not eaten here.
    EXPECT_FALSE(offer(os::Key::F5, true, 200, 110, handle));
    // Over the page: the host eats F5 (no reload).
    EXPECT_TRUE(offer(os::Key::F5, true, 200, 300, handle));
    // Outside the window altogether, and a message aimed at another window.
    EXPECT_FALSE(offer(os::Key::F5, true, 700, 700, handle));
    EXPECT_FALSE(offer(os::Key::F5, true, 200, 300, handle + 1));
    // F5 let go away from the page is no longer held when typing on the page.
    offer(os::Key::F5, false, 700, 700, handle);
    EXPECT_FALSE(offer(os::Key::Other, true, 200, 300, handle));
    // Once the window is gone its filter is off the loop: F5 held over the page goes unseen.
    offer(os::Key::F5, true, 200, 300, handle);
    panel.ClosePanel();
    EXPECT_FALSE(offer(os::Key::F5, true, 200, 300, handle));
    UnregisterMessageLoop();
}
