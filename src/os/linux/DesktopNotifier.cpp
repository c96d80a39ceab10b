#include "os/DesktopNotifier.h"

#include <gio/gio.h>

#include <map>
#include <memory>
#include <string>

namespace os {
namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

// The server may read the body as markup; what we send is meant as text.
std::string EscapeMarkup(const std::string& text) {
    gchar* escaped = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
    std::string out = escaped;
    g_free(escaped);
    return out;
}

// Called directly over GDBus: GNotification needs a registered GApplication, which this
// program does not have.
class FreedesktopNotifier final : public DesktopNotifier {
  public:
    explicit FreedesktopNotifier(GDBusConnection* bus) : bus_(bus) {
        // The sender is left open: GLib before 2.76 matches well-known senders unreliably.
        actionId_ = g_dbus_connection_signal_subscribe(bus_, nullptr, kName, "ActionInvoked", kPath,
                                                       nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                       OnActionInvoked, this, nullptr);
        closedId_ = g_dbus_connection_signal_subscribe(bus_, nullptr, kName, "NotificationClosed",
                                                       kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                       OnClosed, this, nullptr);
    }
    ~FreedesktopNotifier() override {
        alive_.reset();
        g_dbus_connection_signal_unsubscribe(bus_, actionId_);
        g_dbus_connection_signal_unsubscribe(bus_, closedId_);
        g_object_unref(bus_);
    }

    bool Show(const std::string& title, const std::string& body,
              std::function<void()> onActivate) override {
        const gchar* actions[] = {"default", "显示主面板", nullptr};
        GVariantBuilder hints;
        g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("maplenook"));
        GVariant* params = g_variant_new("(susss^asa{sv}i)", "MapleNook", 0u, "", title.c_str(),
                                         EscapeMarkup(body).c_str(), actions, &hints, -1);
        // The server answers with the notification's id; its activation is known from then on.
        struct Pending {
            std::weak_ptr<FreedesktopNotifier*> notifier;
            std::function<void()> onActivate;
        };
        auto* pending = new Pending{alive_, std::move(onActivate)};
        g_dbus_connection_call(
            bus_, kName, kPath, kName, "Notify", params, G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Pending> p(static_cast<Pending*>(data));
                GVariant* reply =
                    g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
                if (reply == nullptr) return;
                guint32 id = 0;
                g_variant_get(reply, "(u)", &id);
                g_variant_unref(reply);
                if (auto alive = p->notifier.lock()) (*alive)->activations_[id] = p->onActivate;
            },
            pending);
        return true;
    }

  private:
    static void OnActionInvoked(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar*, GVariant* params, gpointer self) {
        if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(us)"))) return;
        guint32 id = 0;
        const gchar* action = nullptr;
        g_variant_get(params, "(u&s)", &id, &action);
        auto* notifier = static_cast<FreedesktopNotifier*>(self);
        const auto found = notifier->activations_.find(id);
        if (found == notifier->activations_.end() || g_strcmp0(action, "default") != 0) return;
        const auto activate = found->second;
        if (activate) activate();
    }

    static void OnClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* params, gpointer self) {
        if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(uu)"))) return;
        guint32 id = 0;
        guint32 reason = 0;
        g_variant_get(params, "(uu)", &id, &reason);
        static_cast<FreedesktopNotifier*>(self)->activations_.erase(id);
    }

    GDBusConnection* bus_;
    guint actionId_ = 0;
    guint closedId_ = 0;
    std::map<guint32, std::function<void()>> activations_;
    std::shared_ptr<FreedesktopNotifier*> alive_ = std::make_shared<FreedesktopNotifier*>(this);
};

class NoNotifier final : public DesktopNotifier {
  public:
    bool Show(const std::string&, const std::string&, std::function<void()>) override {
        return false;
    }
};

}  // namespace

std::unique_ptr<DesktopNotifier> MakeDesktopNotifier() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return std::make_unique<NoNotifier>();
    return std::make_unique<FreedesktopNotifier>(bus);
}

}  // namespace os
