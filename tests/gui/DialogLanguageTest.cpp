// The program's dialogs speak Chinese whatever the desktop's locale:
// its message box in its own words, and GTK's own labels through GTK's Chinese catalogue.
#include <glib.h>
#include <glib/gi18n.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "os/Dialogs.h"
#include "os/Window.h"

namespace {

struct Seen {
    std::string title;
    std::string button;
};

gboolean ReadAndClose(gpointer data) {
    auto* seen = static_cast<Seen*>(data);
    GList* windows = gtk_window_list_toplevels();
    for (GList* at = windows; at != nullptr; at = at->next) {
        if (!GTK_IS_MESSAGE_DIALOG(at->data) || !gtk_widget_get_visible(GTK_WIDGET(at->data)))
            continue;
        seen->title = gtk_window_get_title(GTK_WINDOW(at->data));
        GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(at->data), GTK_RESPONSE_OK);
        seen->button = ok != nullptr ? gtk_button_get_label(GTK_BUTTON(ok)) : "<none>";
    }
    g_list_free(windows);
    if (seen->title.empty()) return G_SOURCE_CONTINUE;
    os::CloseModalDialogs();
    return G_SOURCE_REMOVE;
}

}  // namespace

TEST(DialogLanguage, AMessageBoxAndGtksOwnLabelsAreChineseInAnyLocale) {
    ASSERT_TRUE(os::InitGuiToolkit());
    const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
    if (g_str_has_prefix(std::setlocale(LC_MESSAGES, nullptr), "zh_CN"))
        GTEST_SKIP() << "the desktop speaks Chinese already";
    Seen seen;
    g_timeout_add(50, ReadAndClose, &seen);
    os::ShowMessageBox("坏了");
    EXPECT_EQ(seen.title, "错误");
    EXPECT_EQ(seen.button, "确定");
    // The folder chooser's places and columns come from GTK's catalogue.
    EXPECT_STRNE(g_dgettext("gtk30", "Other Locations"), "Other Locations");
    EXPECT_STRNE(g_dgettext("gtk30", "Name"), "Name");
    // Only messages changed: numbers and what started programs inherit stay the user's.
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numeric);
    EXPECT_EQ(std::getenv("LANGUAGE"), nullptr);
}
