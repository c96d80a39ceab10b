#include "os/Tray.h"

#include <X11/extensions/Xfixes.h>
#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "os/GuiThread.h"
#include "os/linux/StatusNotifierItem.h"

namespace os {
namespace {

Display* XDisplay() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return nullptr;
    return GDK_DISPLAY_XDISPLAY(display);
}

// An XEmbed tray manager owns the selection _NET_SYSTEM_TRAY_S<screen>.
Atom XEmbedTraySelection(Display* x) {
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(x));
    return XInternAtom(x, name.c_str(), False);
}

bool HasXEmbedTray() {
    Display* x = XDisplay();
    return x != nullptr && XGetSelectionOwner(x, XEmbedTraySelection(x)) != None;
}

class LinuxTrayIcon final : public TrayIcon {
  public:
    ~LinuxTrayIcon() override {
        StopWatching();
        Release();
    }

    bool Add(const TrayIconSpec& spec, NotifyHandler onNotify, CommandHandler onCommand) override {
        StopWatching();
        Release();
        spec_ = spec;
        notify_ = std::move(onNotify);
        command_ = std::move(onCommand);
        item_ = CreateItem();
        if (!item_ && HasXEmbedTray()) AddStatusIcon();
        shown_ = Shown();
        // Hosts start after the program (at login) and restart; the icon follows them.
        StartWatching();
        return shown_;
    }

    bool Delete(unsigned id) override {
        if (id != spec_.id || !watching_) return false;
        const bool wasShown = Shown();
        StopWatching();
        Release();
        shown_ = false;
        return wasShown;
    }

    void SetHostHandler(HostHandler onHost) override { onHost_ = std::move(onHost); }

    void SetTooltip(const std::string& tooltip) override {
        spec_.tooltip = tooltip;
        if (item_) item_->SetTooltip(tooltip);
        if (statusIcon_ != nullptr) SetStatusIconTooltip();
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
    std::unique_ptr<detail::StatusNotifierItem> CreateItem() {
        // The host's activation is the default command; its menu (or ours, when it asks for
        // one) holds the commands.
        detail::StatusNotifierItem::Handlers handlers;
        handlers.activate = [this] { Notify(TRAY_LBUTTONDBLCLK); };
        handlers.contextMenu = [this] { Notify(TRAY_RBUTTONUP); };
        handlers.command = [this](int command) {
            if (command_) command_(command);
        };
        return detail::StatusNotifierItem::Create(spec_, std::move(handlers));
    }

    bool Shown() const { return item_ != nullptr || statusIcon_ != nullptr; }

    // Tells the owner when the icon came into a host's view or went out of it.
    void Report() {
        const bool now = Shown();
        if (now == shown_) return;
        shown_ = now;
        if (onHost_) onHost_(now);
    }

    void StartWatching() {
        watching_ = true;
        watchId_ = g_bus_watch_name(G_BUS_TYPE_SESSION, detail::kStatusNotifierWatcher,
                                    G_BUS_NAME_WATCHER_FLAGS_NONE, OnWatcherAppeared,
                                    OnWatcherVanished, this, nullptr);
        Display* x = XDisplay();
        int errorBase = 0;
        if (x == nullptr || !XFixesQueryExtension(x, &fixesEventBase_, &errorBase)) return;
        traySelection_ = XEmbedTraySelection(x);
        XFixesSelectSelectionInput(x, DefaultRootWindow(x), traySelection_,
                                   XFixesSetSelectionOwnerNotifyMask |
                                       XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
        gdk_window_add_filter(nullptr, OnXEvent, this);
        filtering_ = true;
    }

    void StopWatching() {
        watching_ = false;
        if (watchId_ != 0) g_bus_unwatch_name(watchId_);
        watchId_ = 0;
        if (!filtering_) return;
        filtering_ = false;
        gdk_window_remove_filter(nullptr, OnXEvent, this);
        if (Display* x = XDisplay())
            XFixesSelectSelectionInput(x, DefaultRootWindow(x), traySelection_, 0);
    }

    static void OnWatcherAppeared(GDBusConnection*, const gchar*, const gchar* owner,
                                  gpointer self) {
        auto* tray = static_cast<LinuxTrayIcon*>(self);
        // The watch also reports the watcher the icon was just registered with.
        if (tray->item_ && tray->item_->WatcherOwner() == owner) return;
        tray->Release();
        tray->item_ = tray->CreateItem();
        if (!tray->item_ && HasXEmbedTray()) tray->AddStatusIcon();
        tray->Report();
    }

    static void OnWatcherVanished(GDBusConnection*, const gchar*, gpointer self) {
        auto* tray = static_cast<LinuxTrayIcon*>(self);
        if (!tray->item_) return;
        tray->Release();
        if (HasXEmbedTray()) tray->AddStatusIcon();
        tray->Report();
    }

    static GdkFilterReturn OnXEvent(GdkXEvent* native, GdkEvent*, gpointer self) {
        auto* tray = static_cast<LinuxTrayIcon*>(self);
        const auto* event = static_cast<const XEvent*>(native);
        if (event->type != tray->fixesEventBase_ + XFixesSelectionNotify)
            return GDK_FILTER_CONTINUE;
        const auto* change = reinterpret_cast<const XFixesSelectionNotifyEvent*>(event);
        // A StatusNotifierItem host is preferred while there is one.
        if (change->selection != tray->traySelection_ || tray->item_) return GDK_FILTER_CONTINUE;
        // A new manager gets a new icon, docked with it from the start.
        tray->Release();
        if (change->owner != None) tray->AddStatusIcon();
        tray->Report();
        return GDK_FILTER_CONTINUE;
    }

// GtkStatusIcon is the XEmbed tray's only GTK 3 API; it is deprecated in favour of nothing.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    bool AddStatusIcon() {
        statusIcon_ = gtk_status_icon_new_from_file(spec_.iconPath.c_str());
        if (statusIcon_ == nullptr) return false;
        gtk_status_icon_set_title(statusIcon_, "MapleNook");
        SetStatusIconTooltip();
        // One left click activates, as on a StatusNotifier host ("activate" comes from the
        // first press only, so a double click does not activate twice).
        g_signal_connect(statusIcon_, "activate", G_CALLBACK(OnActivate), this);
        g_signal_connect(statusIcon_, "button-release-event", G_CALLBACK(OnButtonRelease), this);
        g_signal_connect(statusIcon_, "popup-menu", G_CALLBACK(OnPopupMenu), this);
        gtk_status_icon_set_visible(statusIcon_, TRUE);
        return true;
    }

    void SetStatusIconTooltip() {
        if (spec_.tooltip.empty()) {
            gtk_status_icon_set_has_tooltip(statusIcon_, FALSE);
        } else {
            gtk_status_icon_set_tooltip_text(statusIcon_, spec_.tooltip.c_str());
        }
    }
#pragma GCC diagnostic pop

    static void OnActivate(GtkStatusIcon*, gpointer self) {
        static_cast<LinuxTrayIcon*>(self)->Notify(TRAY_LBUTTONDBLCLK);
    }
    static gboolean OnButtonRelease(GtkStatusIcon*, GdkEventButton* event, gpointer self) {
        if (event->button == 1) static_cast<LinuxTrayIcon*>(self)->Notify(TRAY_LBUTTONUP);
        return FALSE;
    }
    static void OnPopupMenu(GtkStatusIcon*, guint, guint, gpointer self) {
        static_cast<LinuxTrayIcon*>(self)->Notify(TRAY_RBUTTONUP);
    }

    void Notify(unsigned message) {
        if (notify_) notify_(spec_.id, message);
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
    TrayIconSpec spec_;
    NotifyHandler notify_;
    CommandHandler command_;
    HostHandler onHost_;
    bool shown_ = false;
    bool watching_ = false;
    guint watchId_ = 0;
    bool filtering_ = false;
    int fixesEventBase_ = 0;
    Atom traySelection_ = None;
    GtkStatusIcon* statusIcon_ = nullptr;
    std::unique_ptr<detail::StatusNotifierItem> item_;
    GtkWidget* popup_ = nullptr;
};

}  // namespace

std::unique_ptr<TrayIcon> MakeTrayIcon() {
    return std::make_unique<LinuxTrayIcon>();
}

}  // namespace os
