// The tray icon as a StatusNotifierItem, driven over the session bus (dbus-run-session) by a
// stand-in for the desktop's tray host.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "os/Window.h"
#include "panel/TrayIconImpl.h"

namespace {

using namespace std::chrono_literals;

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
    }
    return true;
}

constexpr const char* kWatcherXml = R"xml(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  </interface>
</node>)xml";

// The host's side: its own bus connection, the watcher name, and the items registered with it.
class FakeTrayHost {
  public:
    FakeTrayHost() {
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (address == nullptr) return;
        bus_ = g_dbus_connection_new_for_address_sync(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_free(address);
        if (bus_ == nullptr) return;
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
        static const GDBusInterfaceVTable vtable{OnMethod, nullptr, nullptr, {}};
        objectId_ = g_dbus_connection_register_object(
            bus_, "/StatusNotifierWatcher", node->interfaces[0], &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        nameId_ = g_bus_own_name_on_connection(
            bus_, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
            +[](GDBusConnection*, const gchar*, gpointer self) {
                static_cast<FakeTrayHost*>(self)->owned_ = true;
            },
            nullptr, this, nullptr);
    }
    ~FakeTrayHost() {
        if (nameId_ != 0) g_bus_unown_name(nameId_);
        if (objectId_ != 0) g_dbus_connection_unregister_object(bus_, objectId_);
        if (bus_ != nullptr) g_object_unref(bus_);
    }

    bool Ready() {
        return bus_ != nullptr && PumpUntil([this] { return owned_; });
    }

    // A method call from the host to `service`, answered before this returns; null on error.
    GVariant* Call(const std::string& service, const char* path, const char* iface,
                   const char* method, GVariant* params) {
        struct Pending {
            bool done = false;
            GVariant* reply = nullptr;
        } pending;
        g_dbus_connection_call(
            bus_, service.c_str(), path, iface, method, params, nullptr, G_DBUS_CALL_FLAGS_NONE,
            3000, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto* p = static_cast<Pending*>(data);
                p->reply =
                    g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
                p->done = true;
            },
            &pending);
        PumpUntil([&] { return pending.done; });
        return pending.reply;
    }

    bool HasOwner(const std::string& name) {
        GVariant* reply =
            Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                 "NameHasOwner", g_variant_new("(s)", name.c_str()));
        gboolean owned = FALSE;
        if (reply != nullptr) {
            g_variant_get(reply, "(b)", &owned);
            g_variant_unref(reply);
        }
        return owned != FALSE;
    }

    std::vector<std::string> items;

  private:
    static void OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
        const gchar* service = nullptr;
        g_variant_get(params, "(&s)", &service);
        static_cast<FakeTrayHost*>(self)->items.push_back(service);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    GDBusConnection* bus_ = nullptr;
    guint objectId_ = 0;
    guint nameId_ = 0;
    bool owned_ = false;
};

class RecordingPanel : public CTrayIconImpl {
  public:
    RecordingPanel() : CTrayIconImpl([this](int command) { commands.push_back(command); }) {}
    std::vector<int> commands;
};

GVariant* Property(FakeTrayHost& host, const std::string& service, const char* name) {
    GVariant* reply = host.Call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                                "Get", g_variant_new("(ss)", "org.kde.StatusNotifierItem", name));
    if (reply == nullptr) return nullptr;
    GVariant* boxed = nullptr;
    g_variant_get(reply, "(v)", &boxed);
    g_variant_unref(reply);
    return boxed;
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
    ASSERT_TRUE(PumpUntil([&] { return !host.items.empty(); }));
    const std::string service = host.items.front();
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

    // The menu the host draws holds "退出"; clicking it sends 2003.
    GVariant* layout = host.Call(service, menu.c_str(), "com.canonical.dbusmenu", "GetLayout",
                                 g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)));
    ASSERT_NE(layout, nullptr);
    guint revision = 0;
    GVariant* root = nullptr;
    g_variant_get(layout, "(u@(ia{sv}av))", &revision, &root);
    GVariant* children = g_variant_get_child_value(root, 2);
    ASSERT_EQ(g_variant_n_children(children), 1u);
    GVariant* child = g_variant_get_variant(g_variant_get_child_value(children, 0));
    gint32 itemId = 0;
    GVariant* props = nullptr;
    g_variant_get_child(child, 0, "i", &itemId);
    props = g_variant_get_child_value(child, 1);
    const gchar* label = nullptr;
    ASSERT_TRUE(g_variant_lookup(props, "label", "&s", &label));
    EXPECT_STREQ(label, "退出");
    g_variant_unref(
        host.Call(service, menu.c_str(), "com.canonical.dbusmenu", "Event",
                  g_variant_new("(isvu)", itemId, "clicked", g_variant_new_int32(0), 0u)));
    ASSERT_TRUE(PumpUntil([&] { return !panel.commands.empty(); }));
    EXPECT_EQ(panel.commands, (std::vector<int>{ID_APP_EXIT}));

    // Removing the icon takes its name off the bus, which tells the host.
    EXPECT_TRUE(panel.RemoveTrayIcon());
    EXPECT_TRUE(PumpUntil([&] { return !host.HasOwner(service); }));
}
