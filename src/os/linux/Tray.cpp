#include "os/Tray.h"

#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "os/GuiThread.h"
#include "os/linux/StatusNotifierItem.h"

namespace os {
namespace {

// An XEmbed tray manager owns the selection _NET_SYSTEM_TRAY_S<screen>.
bool HasXEmbedTray() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
    Display* x = GDK_DISPLAY_XDISPLAY(display);
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(x));
    const Atom selection = XInternAtom(x, name.c_str(), False);
    return XGetSelectionOwner(x, selection) != None;
}

class LinuxTrayIcon final : public TrayIcon {
  public:
    ~LinuxTrayIcon() override { Release(); }

    bool Add(const TrayIconSpec& spec, NotifyHandler onNotify, CommandHandler onCommand) override {
        Release();
        id_ = spec.id;
        notify_ = std::move(onNotify);
        command_ = std::move(onCommand);
        // The host's activation is the default command; its menu (or ours, when it asks for
        // one) holds the commands.
        detail::StatusNotifierItem::Handlers handlers;
        handlers.activate = [this] { Notify(TRAY_LBUTTONDBLCLK); };
        handlers.contextMenu = [this] { Notify(TRAY_RBUTTONUP); };
        handlers.command = [this](int command) {
            if (command_) command_(command);
        };
        item_ = detail::StatusNotifierItem::Create(spec, std::move(handlers));
        if (item_) return true;
        if (HasXEmbedTray()) return AddStatusIcon(spec);
        return false;
    }

    bool Delete(unsigned id) override {
        if (id != id_ || (statusIcon_ == nullptr && !item_)) return false;
        Release();
        return true;
    }

    void TrackPopupMenu(const std::vector<TrayMenuItem>& items, ScreenPoint at) override {
        if (popup_ != nullptr) gtk_widget_destroy(popup_);
        popup_ = BuildMenu(items);
        GdkWindow* root = gdk_get_default_root_window();
        if (root == nullptr) return;
        const GdkRectangle point{at.x, at.y, 1, 1};
        gtk_menu_popup_at_rect(GTK_MENU(popup_), root, &point, GDK_GRAVITY_NORTH_WEST,
                               GDK_GRAVITY_NORTH_WEST, nullptr);
    }

    ScreenPoint CursorPos() override { return CursorPosition(); }
    std::vector<MonitorInfo> Monitors() override { return ListMonitors(); }

  private:
// GtkStatusIcon is the XEmbed tray's only GTK 3 API; it is deprecated in favour of nothing.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    bool AddStatusIcon(const TrayIconSpec& spec) {
        statusIcon_ = gtk_status_icon_new_from_file(spec.iconPath.c_str());
        if (statusIcon_ == nullptr) return false;
        gtk_status_icon_set_title(statusIcon_, "MapleNook");
        if (spec.tooltip.empty()) {
            gtk_status_icon_set_has_tooltip(statusIcon_, FALSE);
        } else {
            gtk_status_icon_set_tooltip_text(statusIcon_, spec.tooltip.c_str());
        }
        g_signal_connect(statusIcon_, "button-press-event", G_CALLBACK(OnButtonPress), this);
        g_signal_connect(statusIcon_, "button-release-event", G_CALLBACK(OnButtonRelease), this);
        g_signal_connect(statusIcon_, "popup-menu", G_CALLBACK(OnPopupMenu), this);
        gtk_status_icon_set_visible(statusIcon_, TRUE);
        return true;
    }
#pragma GCC diagnostic pop

    static gboolean OnButtonPress(GtkStatusIcon*, GdkEventButton* event, gpointer self) {
        if (event->button == 1 && event->type == GDK_2BUTTON_PRESS) {
            static_cast<LinuxTrayIcon*>(self)->Notify(TRAY_LBUTTONDBLCLK);
        }
        return FALSE;
    }
    static gboolean OnButtonRelease(GtkStatusIcon*, GdkEventButton* event, gpointer self) {
        if (event->button == 1) static_cast<LinuxTrayIcon*>(self)->Notify(TRAY_LBUTTONUP);
        return FALSE;
    }
    static void OnPopupMenu(GtkStatusIcon*, guint, guint, gpointer self) {
        static_cast<LinuxTrayIcon*>(self)->Notify(TRAY_RBUTTONUP);
    }

    void Notify(unsigned message) {
        if (notify_) notify_(id_, message);
    }

    GtkWidget* BuildMenu(const std::vector<TrayMenuItem>& items) {
        GtkWidget* menu = gtk_menu_new();
        for (const auto& item : items) {
            GtkWidget* entry = gtk_menu_item_new_with_label(item.text.c_str());
            if (item.isDefault) {
                GtkWidget* label = gtk_bin_get_child(GTK_BIN(entry));
                gchar* markup = g_markup_printf_escaped("<b>%s</b>", item.text.c_str());
                gtk_label_set_markup(GTK_LABEL(label), markup);
                g_free(markup);
            }
            g_object_set_data(G_OBJECT(entry), "maplenook-command", GINT_TO_POINTER(item.command));
            g_signal_connect(entry, "activate", G_CALLBACK(OnMenuItem), this);
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
        }
        gtk_widget_show_all(menu);
        return menu;
    }

    static void OnMenuItem(GtkMenuItem* item, gpointer self) {
        auto* tray = static_cast<LinuxTrayIcon*>(self);
        const int command = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "maplenook-command"));
        // The command arrives after the menu has closed: "退出"
        // tears the tray and its menus down, which must not happen inside the menu's signal.
        std::weak_ptr<int> alive = tray->alive_;
        os::PostToGuiThread([tray, alive, command] {
            if (alive.lock() && tray->command_) tray->command_(command);
        });
    }

    void Release() {
        if (popup_ != nullptr) {
            gtk_widget_destroy(popup_);
            popup_ = nullptr;
        }
        if (statusIcon_ != nullptr) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
            gtk_status_icon_set_visible(statusIcon_, FALSE);
#pragma GCC diagnostic pop
            g_signal_handlers_disconnect_by_data(statusIcon_, this);
            g_object_unref(statusIcon_);
            statusIcon_ = nullptr;
        }
        item_.reset();
    }

    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    unsigned id_ = 0;
    NotifyHandler notify_;
    CommandHandler command_;
    GtkStatusIcon* statusIcon_ = nullptr;
    std::unique_ptr<detail::StatusNotifierItem> item_;
    GtkWidget* popup_ = nullptr;
};

}  // namespace

std::unique_ptr<TrayIcon> MakeTrayIcon() {
    return std::make_unique<LinuxTrayIcon>();
}

}  // namespace os
