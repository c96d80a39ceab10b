// A panel's page is only ever what the program loads: a file dragged onto it from another window
// is refused, and the page stays.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "TempDir.h"
#include "WebTestPanel.h"
#include "X11Windows.h"

using namespace std::chrono_literals;
using testsupport::PumpUntil;

namespace {

// A small window at (0, 0) that drags `uri` as a text/uri-list, as a file manager does.
struct DragSource {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
    std::string uri;
    bool began = false;
    bool asked = false;

    explicit DragSource(std::string dragged) : uri(std::move(dragged)) {
        gtk_window_move(GTK_WINDOW(window), 0, 0);
        gtk_window_resize(GTK_WINDOW(window), 80, 80);
        GtkTargetEntry uris{const_cast<gchar*>("text/uri-list"), 0, 0};
        gtk_drag_source_set(window, GDK_BUTTON1_MASK, &uris, 1, GDK_ACTION_COPY);
        g_signal_connect(window, "drag-begin", G_CALLBACK(Began), this);
        g_signal_connect(window, "drag-data-get", G_CALLBACK(DataGet), this);
        gtk_widget_show(window);
    }
    ~DragSource() { gtk_widget_destroy(window); }

    static void Began(GtkWidget*, GdkDragContext*, gpointer self) {
        static_cast<DragSource*>(self)->began = true;
    }
    static void DataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint,
                        gpointer self) {
        auto* source = static_cast<DragSource*>(self);
        source->asked = true;
        gchar* uris[] = {source->uri.data(), nullptr};
        gtk_selection_data_set_uris(data, uris);
    }
};

}  // namespace

TEST(PanelDrops, AFileDroppedOnThePanelNeverReplacesItsPage) {
    ASSERT_TRUE(testsupport::PrepareWebTests());
    testsupport::TempDir module;
    testsupport::WriteFile(module.File("page.html"),
                           "<title>kept</title><body style='margin:0;height:100vh'></body>");
    testsupport::WriteFile(module.File("dropped.html"), "<title>dropped</title>");
    testsupport::WebTestPanel panel("drops", module.path());
    ASSERT_TRUE(panel.OpenPage("\\page.html"));
    panel.Window()->MoveResize({200, 200, 600, 600});
    panel.Window()->Show();
    DragSource source("file://" + module.File("dropped.html"));
    ASSERT_TRUE(PumpUntil(
        [&] { return gtk_widget_get_mapped(source.window) && panel.Window()->IsVisible(); }));
    PumpUntil([] { return false; }, 300ms);

    std::atomic<bool> dragged{false};
    std::thread pointer([&] {
        testsupport::DragPointer(40, 40, 400, 400);
        dragged = true;
    });
    PumpUntil([&] { return dragged.load(); }, 20s);
    pointer.join();
    ASSERT_TRUE(source.began) << "no drag started; the check below would prove nothing";
    PumpUntil([&] { return panel.Evaluate("document.title") != "kept"; }, 2s);
    EXPECT_EQ(panel.Evaluate("document.title"), "kept");
    EXPECT_FALSE(source.asked) << "the panel took the dragged data";
}
