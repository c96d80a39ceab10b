#include "StatusNotifierHost.h"

#include <chrono>

#include "WebTestPanel.h"

namespace testsupport {
namespace {

constexpr const char* kWatcherXml = R"xml(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  </interface>
</node>)xml";

}  // namespace

GDBusConnection* NewSessionBusConnection() {
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (address == nullptr) return nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address,
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    g_free(address);
    return bus;
}

StatusNotifierHost::StatusNotifierHost() {
    bus_ = NewSessionBusConnection();
    if (bus_ == nullptr) return;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
    static const GDBusInterfaceVTable vtable{OnMethod, nullptr, nullptr, {}};
    objectId_ = g_dbus_connection_register_object(
        bus_, "/StatusNotifierWatcher", node->interfaces[0], &vtable, this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    nameId_ = g_bus_own_name_on_connection(
        bus_, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, gpointer self) {
            static_cast<StatusNotifierHost*>(self)->owned_ = true;
        },
        nullptr, this, nullptr);
}

StatusNotifierHost::~StatusNotifierHost() {
    if (nameId_ != 0) g_bus_unown_name(nameId_);
    if (objectId_ != 0) g_dbus_connection_unregister_object(bus_, objectId_);
    if (bus_ == nullptr) return;
    // Closed, not only released: the watcher is gone at once, as when a host process ends.
    g_dbus_connection_close_sync(bus_, nullptr, nullptr);
    g_object_unref(bus_);
}

bool StatusNotifierHost::Ready() {
    return bus_ != nullptr && PumpUntil([this] { return owned_; }, std::chrono::seconds(5));
}

GVariant* StatusNotifierHost::Call(const std::string& service, const char* path, const char* iface,
                                   const char* method, GVariant* params) {
    struct Pending {
        bool done = false;
        GVariant* reply = nullptr;
    } pending;
    g_dbus_connection_call(
        bus_, service.c_str(), path, iface, method, params, nullptr, G_DBUS_CALL_FLAGS_NONE, 3000,
        nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            auto* p = static_cast<Pending*>(data);
            p->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            p->done = true;
        },
        &pending);
    PumpUntil([&] { return pending.done; }, std::chrono::seconds(5));
    return pending.reply;
}

bool StatusNotifierHost::HasOwner(const std::string& name) {
    GVariant* reply = Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", g_variant_new("(s)", name.c_str()));
    gboolean owned = FALSE;
    if (reply != nullptr) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    return owned != FALSE;
}

GVariant* StatusNotifierHost::ItemProperty(const std::string& service, const char* name) {
    GVariant* reply = Call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", "org.kde.StatusNotifierItem", name));
    if (reply == nullptr) return nullptr;
    GVariant* boxed = nullptr;
    g_variant_get(reply, "(v)", &boxed);
    g_variant_unref(reply);
    return boxed;
}

std::vector<std::pair<int, std::string>> StatusNotifierHost::MenuOf(const std::string& service) {
    std::vector<std::pair<int, std::string>> entries;
    GVariant* menuPath = ItemProperty(service, "Menu");
    if (menuPath == nullptr) return entries;
    const std::string menu = g_variant_get_string(menuPath, nullptr);
    g_variant_unref(menuPath);
    GVariant* layout = Call(service, menu.c_str(), "com.canonical.dbusmenu", "GetLayout",
                            g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)));
    if (layout == nullptr) return entries;
    GVariant* root = g_variant_get_child_value(layout, 1);
    GVariant* children = g_variant_get_child_value(root, 2);
    for (gsize i = 0; i < g_variant_n_children(children); ++i) {
        GVariant* boxed = g_variant_get_child_value(children, i);
        GVariant* child = g_variant_get_variant(boxed);
        gint32 id = 0;
        g_variant_get_child(child, 0, "i", &id);
        GVariant* props = g_variant_get_child_value(child, 1);
        const gchar* label = "";
        g_variant_lookup(props, "label", "&s", &label);
        entries.emplace_back(id, label);
        g_variant_unref(props);
        g_variant_unref(child);
        g_variant_unref(boxed);
    }
    g_variant_unref(children);
    g_variant_unref(root);
    g_variant_unref(layout);
    return entries;
}

void StatusNotifierHost::OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar*, GVariant* params, GDBusMethodInvocation* invocation,
                                  gpointer self) {
    const gchar* service = nullptr;
    g_variant_get(params, "(&s)", &service);
    static_cast<StatusNotifierHost*>(self)->items.push_back(service);
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

std::vector<std::string> StatusNotifierHost::ItemsOf(long pid) const {
    std::vector<std::string> own;
    const std::string mark = "-" + std::to_string(pid) + "-";
    for (const std::string& item : items)
        if (item.find(mark) != std::string::npos) own.push_back(item);
    return own;
}

}  // namespace testsupport
