#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/Screen.h"

namespace os {

// What the user did with the mouse on the tray icon, as the tray reports it to the icon's owner.
enum : unsigned {
    TRAY_LBUTTONUP = 0x0202,
    TRAY_LBUTTONDBLCLK = 0x0203,  // the icon's activation: one left click on either kind of tray
    TRAY_RBUTTONUP = 0x0205,
};

struct TrayMenuItem {
    int command = 0;
    std::string text;
    bool isDefault = false;  // drawn bold
};

struct TrayIconSpec {
    unsigned id = 0;
    std::string iconPath;  // an image file
    std::string tooltip;   // empty: no tooltip
    // The menu for trays whose host shows the menu itself (StatusNotifierItem hosts).
    std::vector<TrayMenuItem> hostMenu;
};

// One icon in the desktop's notification area.
class TrayIcon {
  public:
    using NotifyHandler = std::function<void(unsigned iconId, unsigned mouseMessage)>;
    using CommandHandler = std::function<void(int command)>;
    // Whether a tray host shows the icon now.
    using HostHandler = std::function<void(bool shown)>;

    virtual ~TrayIcon() = default;
    // Shows the icon; false when no tray host shows it now. Until Delete the icon follows the
    // hosts: whenever one appears it is registered there again. Mouse events arrive at
    // `onNotify`, chosen menu items (of either menu) at `onCommand`, both on the GUI thread.
    virtual bool Add(const TrayIconSpec& spec, NotifyHandler onNotify,
                     CommandHandler onCommand) = 0;
    // Takes the icon away and stops following the hosts.
    virtual bool Delete(unsigned id) = 0;
    // Hears, on the GUI thread, each time a host starts or stops showing the added icon.
    virtual void SetHostHandler(HostHandler /*onHost*/) {}
    virtual void SetTooltip(const std::string& /*tooltip*/) {}
    // Pops `items` up at `at`; a chosen item arrives later at the command handler.
    virtual void TrackPopupMenu(const std::vector<TrayMenuItem>& items, ScreenPoint at) = 0;
    virtual ScreenPoint CursorPos() = 0;
    virtual std::vector<MonitorInfo> Monitors() = 0;
};

// The desktop's tray: a StatusNotifierItem when a watcher is on the session bus (the host's
// activation arrives as TRAY_LBUTTONDBLCLK, its menu comes from hostMenu, and a host that draws
// no menu asks for ours as a right click), else an XEmbed icon where a tray manager runs (one
// left click arrives as TRAY_LBUTTONDBLCLK, as on the other host; a right click as it happens).
// Neither: Add fails, and the icon waits for either to appear.
std::unique_ptr<TrayIcon> MakeTrayIcon();

}  // namespace os
