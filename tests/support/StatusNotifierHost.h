#pragma once
// A stand-in for the desktop's StatusNotifierItem host on the session bus (dbus-run-session):
// it owns the watcher name on a connection of its own and records the items registered with
// it. Its calls are answered while the caller iterates the default main context.
#include <gio/gio.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A connection of its own to the session bus, so a stand-in service answers on its own name
// while the test's other code uses the shared one; null when there is no session bus.
GDBusConnection* NewSessionBusConnection();

class StatusNotifierHost {
  public:
    StatusNotifierHost();
    ~StatusNotifierHost();
    StatusNotifierHost(const StatusNotifierHost&) = delete;
    StatusNotifierHost& operator=(const StatusNotifierHost&) = delete;

    // True once the watcher name is ours.
    bool Ready();
    // A method call from the host to `service`, answered before this returns; null on error.
    GVariant* Call(const std::string& service, const char* path, const char* iface,
                   const char* method, GVariant* params);
    bool HasOwner(const std::string& name);
    // A property of the item `service`; null on error.
    GVariant* ItemProperty(const std::string& service, const char* name);
    // The labels of the item's menu as the host would draw them, with their dbusmenu ids.
    std::vector<std::pair<int, std::string>> MenuOf(const std::string& service);

    std::vector<std::string> items;
    // The items `pid` registered (their names carry it): tests side by side share the bus.
    std::vector<std::string> ItemsOf(long pid) const;

  private:
    static void OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* params, GDBusMethodInvocation* invocation, gpointer self);

    GDBusConnection* bus_ = nullptr;
    guint objectId_ = 0;
    guint nameId_ = 0;
    bool owned_ = false;
};

}  // namespace testsupport
