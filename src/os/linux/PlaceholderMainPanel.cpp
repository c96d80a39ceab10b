// Stands in for the real main panel until it lands: a hidden undecorated window that shows
// itself when a second instance asks for it and ends the program when it is closed. Replace
// this file (and its MakeMainPanel) with the real panel.
#include "app/MainPanelHost.h"
#include "os/GuiThread.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

namespace {

class PlaceholderMainPanel final : public IMainPanel {
  public:
    ~PlaceholderMainPanel() override {
        if (window_ != nullptr) gtk_widget_destroy(window_);
    }

    bool Create() override {
        GdkDisplay* display = gdk_display_get_default();
        if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window_), "MapleNook");
        gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
        gtk_window_set_default_size(GTK_WINDOW(window_), 360, 240);
        gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
        GtkWidget* label = gtk_label_new("MapleNook");
        gtk_container_add(GTK_CONTAINER(window_), label);
        gtk_widget_show(label);
        g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), nullptr);
        gtk_widget_realize(window_);
        return gtk_widget_get_window(window_) != nullptr;
    }

    long WindowHandle() const override {
        return static_cast<long>(GDK_WINDOW_XID(gtk_widget_get_window(window_)));
    }

    void Hide() override { gtk_widget_hide(window_); }

    long OnCopyData(unsigned long dwData) override {
        if (dwData == 1) {
            gtk_widget_show(window_);
            gtk_window_present(GTK_WINDOW(window_));
        }
        return 1;
    }

  private:
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer) {
        os::QuitGuiLoop(0);
        return TRUE;  // the window goes with the panel object after the loop
    }

    GtkWidget* window_ = nullptr;
};

}  // namespace

std::unique_ptr<IMainPanel> MakeMainPanel(const std::string&, const std::string&) {
    return std::make_unique<PlaceholderMainPanel>();
}
