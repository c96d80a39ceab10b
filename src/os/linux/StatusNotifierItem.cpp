#include "os/linux/StatusNotifierItem.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <unistd.h>

#ifdef MAPLENOOK_HAVE_DBUSMENU
#include <libdbusmenu-glib/menuitem.h>
#include <libdbusmenu-glib/server.h>
#endif

#include <atomic>

#include "os/GuiThread.h"

namespace os::detail {
namespace {

constexpr const char* kWatcherName = kStatusNotifierWatcher;
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";

constexpr const char* kItemXml = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
  </interface>
</node>)xml";

// The watcher's unique name; empty when no watcher runs.
std::string WatcherOwnerOn(GDBusConnection* bus) {
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetNameOwner", g_variant_new("(s)", kWatcherName), G_VARIANT_TYPE("(s)"),
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    std::string owner;
    if (reply != nullptr) {
        const gchar* name = nullptr;
        g_variant_get(reply, "(&s)", &name);
        owner = name;
        g_variant_unref(reply);
    }
    return owner;
}

// The icon as the protocol carries it: width, height, ARGB32 in network byte order.
GVariant* IconPixmapOf(const std::string& path) {
    GVariantBuilder pixmaps;
    g_variant_builder_init(&pixmaps, G_VARIANT_TYPE("a(iiay)"));
    GdkPixbuf* loaded = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    GdkPixbuf* pixbuf = loaded != nullptr ? gdk_pixbuf_add_alpha(loaded, FALSE, 0, 0, 0) : nullptr;
    if (pixbuf != nullptr) {
        const int w = gdk_pixbuf_get_width(pixbuf);
        const int h = gdk_pixbuf_get_height(pixbuf);
        const int stride = gdk_pixbuf_get_rowstride(pixbuf);
        const guchar* rgba = gdk_pixbuf_get_pixels(pixbuf);
        std::vector<guchar> argb(static_cast<size_t>(w) * h * 4);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const guchar* in = rgba + y * stride + x * 4;
                guchar* out = argb.data() + (static_cast<size_t>(y) * w + x) * 4;
                out[0] = in[3];
                out[1] = in[0];
                out[2] = in[1];
                out[3] = in[2];
            }
        }
        GVariant* bytes =
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, argb.data(), argb.size(), 1);
        g_variant_builder_add(&pixmaps, "(ii@ay)", w, h, bytes);
        g_object_unref(pixbuf);
    }
    if (loaded != nullptr) g_object_unref(loaded);
    return g_variant_builder_end(&pixmaps);
}

GVariant* EmptyPixmaps() {
    return g_variant_new("a(iiay)", nullptr);
}

}  // namespace

struct StatusNotifierItem::State {
    GDBusConnection* bus = nullptr;
    std::string watcherOwner;
    guint objectId = 0;
    guint nameId = 0;
    std::string tooltip;
    GVariant* iconPixmap = nullptr;  // owned
    Handlers handlers;
    std::shared_ptr<int> alive = std::make_shared<int>(0);
#ifdef MAPLENOOK_HAVE_DBUSMENU
    DbusmenuServer* menuServer = nullptr;
#endif

    static void OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                         const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                         gpointer self) {
        auto* state = static_cast<State*>(self);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        // Answer the host first; what the program then does may take the item down.
        std::function<void()> action;
        if (g_strcmp0(method, "Activate") == 0) action = state->handlers.activate;
        if (g_strcmp0(method, "ContextMenu") == 0) action = state->handlers.contextMenu;
        if (!action) return;
        std::weak_ptr<int> alive = state->alive;
        os::PostToGuiThread([alive, action] {
            if (alive.lock()) action();
        });
    }

    static GVariant* OnProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar* name, GError**, gpointer self) {
        auto* state = static_cast<State*>(self);
        const std::string p = name;
        if (p == "Category") return g_variant_new_string("ApplicationStatus");
        if (p == "Id") return g_variant_new_string("maplenook");
        if (p == "Title") return g_variant_new_string("MapleNook");
        if (p == "Status") return g_variant_new_string("Active");
        if (p == "WindowId") return g_variant_new_int32(0);
        if (p == "IconPixmap") return g_variant_ref(state->iconPixmap);
        if (p == "OverlayIconPixmap" || p == "AttentionIconPixmap") return EmptyPixmaps();
        if (p == "ToolTip") {
            return g_variant_new("(s@a(iiay)ss)", "", EmptyPixmaps(), state->tooltip.c_str(), "");
        }
        if (p == "ItemIsMenu") return g_variant_new_boolean(FALSE);
        if (p == "Menu") return g_variant_new_object_path(kMenuPath);
        return g_variant_new_string("");  // the icon, overlay and attention names
    }

    // The menu the host shows for the item (with D-Bus menus only: without, the host has none).
    void ServeMenu(const std::vector<TrayMenuItem>& items) {
#ifdef MAPLENOOK_HAVE_DBUSMENU
        menuServer = dbusmenu_server_new(kMenuPath);
        DbusmenuMenuitem* root = dbusmenu_menuitem_new();
        for (const auto& entry : items) {
            DbusmenuMenuitem* child = dbusmenu_menuitem_new();
            dbusmenu_menuitem_property_set(child, DBUSMENU_MENUITEM_PROP_LABEL, entry.text.c_str());
            g_object_set_data(G_OBJECT(child), "maplenook-command", GINT_TO_POINTER(entry.command));
            g_signal_connect(child, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED,
                             G_CALLBACK(+[](DbusmenuMenuitem* mi, guint, gpointer self) {
                                 auto* s = static_cast<State*>(self);
                                 const int command = GPOINTER_TO_INT(
                                     g_object_get_data(G_OBJECT(mi), "maplenook-command"));
                                 std::weak_ptr<int> alive = s->alive;
                                 auto handler = s->handlers.command;
                                 os::PostToGuiThread([alive, handler, command] {
                                     if (alive.lock() && handler) handler(command);
                                 });
                             }),
                             this);
            dbusmenu_menuitem_child_append(root, child);
            g_object_unref(child);
        }
        dbusmenu_server_set_root(menuServer, root);
        g_object_unref(root);
#else
        (void)items;
#endif
    }
};

std::unique_ptr<StatusNotifierItem> StatusNotifierItem::Create(const TrayIconSpec& spec,
                                                               Handlers handlers) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return nullptr;
    std::string owner = WatcherOwnerOn(bus);
    if (owner.empty()) {
        g_object_unref(bus);
        return nullptr;
    }
    std::unique_ptr<StatusNotifierItem> item(new StatusNotifierItem());
    item->state_ = std::make_unique<State>();
    State& state = *item->state_;
    state.bus = bus;
    state.watcherOwner = std::move(owner);
    state.tooltip = spec.tooltip;
    state.handlers = std::move(handlers);
    state.iconPixmap = g_variant_ref_sink(IconPixmapOf(spec.iconPath));

    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kItemXml, nullptr);
    static const GDBusInterfaceVTable vtable{State::OnMethod, State::OnProperty, nullptr, {}};
    state.objectId = g_dbus_connection_register_object(bus, kItemPath, node->interfaces[0], &vtable,
                                                       &state, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    if (state.objectId == 0) return nullptr;

    state.ServeMenu(spec.hostMenu);

    // A well-known name per item, so the watcher drops the item when the name goes. The
    // request goes out before the registration on the same connection, so it is in place
    // when the watcher reads it.
    static std::atomic<int> serial{0};
    const std::string name =
        "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    state.nameId = g_bus_own_name_on_connection(bus, name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                                nullptr, nullptr, nullptr, nullptr);
    // Not waited for: the host shows the item when it gets to it, and a host that answers
    // slowly must not hold up start-up.
    g_dbus_connection_call(bus, kWatcherName, kWatcherPath, kWatcherName,
                           "RegisterStatusNotifierItem", g_variant_new("(s)", name.c_str()),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    return item;
}

const std::string& StatusNotifierItem::WatcherOwner() const {
    return state_->watcherOwner;
}

void StatusNotifierItem::SetTooltip(const std::string& tooltip) {
    if (state_->tooltip == tooltip) return;
    state_->tooltip = tooltip;
    g_dbus_connection_emit_signal(state_->bus, nullptr, kItemPath, "org.kde.StatusNotifierItem",
                                  "NewToolTip", nullptr, nullptr);
}

StatusNotifierItem::~StatusNotifierItem() {
    if (!state_) return;
    State& state = *state_;
    state.alive.reset();
#ifdef MAPLENOOK_HAVE_DBUSMENU
    if (state.menuServer != nullptr) g_object_unref(state.menuServer);
#endif
    if (state.nameId != 0) g_bus_unown_name(state.nameId);
    if (state.objectId != 0) g_dbus_connection_unregister_object(state.bus, state.objectId);
    if (state.iconPixmap != nullptr) g_variant_unref(state.iconPixmap);
    g_dbus_connection_flush_sync(state.bus, nullptr, nullptr);
    g_object_unref(state.bus);
}

}  // namespace os::detail
