#pragma once
// The freedesktop tray protocol (org.kde.StatusNotifierItem) spoken directly over GDBus, so
// the host's activation reaches the program; the menu goes out through libdbusmenu-glib.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/Tray.h"

namespace os::detail {

// The bus name a tray host's watcher owns.
inline constexpr const char* kStatusNotifierWatcher = "org.kde.StatusNotifierWatcher";

class StatusNotifierItem {
  public:
    struct Handlers {
        std::function<void()> activate;     // the host's primary action on the icon
        std::function<void()> contextMenu;  // a host that draws no menu asks for ours
        std::function<void(int command)> command;
    };

    ~StatusNotifierItem();

    // Exports the item and registers it with the session's watcher; none when there is no
    // session bus or no watcher (no tray host).
    static std::unique_ptr<StatusNotifierItem> Create(const TrayIconSpec& spec, Handlers handlers);

    // The unique bus name of the watcher the item was registered with.
    const std::string& WatcherOwner() const;
    // Changes the tooltip and tells the host.
    void SetTooltip(const std::string& tooltip);

  private:
    StatusNotifierItem() = default;
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace os::detail
