#pragma once
#include <memory>
#include <string>

#include "app/Settings.h"
#include "os/Tray.h"
#include "panel/TrayMenu.h"

// The record every tray call is made with.
struct TrayIconData {
    unsigned uID = 0;
    unsigned uFlags = 0;
    unsigned uCallbackMessage = 0;
    std::string icon;  // image file
    std::string szTip;
};

inline constexpr unsigned NIF_MESSAGE = 0x1;
inline constexpr unsigned NIF_ICON = 0x2;
inline constexpr unsigned NIF_TIP = 0x4;

// Tray icon mix-in of the main panel window class T (CRTP).
//
// T supplies:
//   void SendPanelCommand(int command);  the command reaches the panel now (WM_COMMAND)
//   void PostPanelNull();                an empty message queued to the panel
template <class T>
class CTrayIconImpl {
  public:
    CTrayIconImpl() = default;
    virtual ~CTrayIconImpl() = default;
    CTrayIconImpl(const CTrayIconImpl&) = delete;
    CTrayIconImpl& operator=(const CTrayIconImpl&) = delete;

    // Called with the popup before it is shown; nothing to add by default.
    virtual void PrepareTrayMenu(TrayMenu& /*popup*/) {}

    // Replaces the desktop's tray (tests hand in a fake). Before AddTrayIcon only.
    void UseTray(std::unique_ptr<os::TrayIcon> tray) { tray_ = std::move(tray); }

    bool AddTrayIcon(const std::string& tooltip, const std::string& icon, unsigned id) {
        iconData.uID = id;
        iconData.icon = icon;
        iconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        iconData.uCallbackMessage = WM_TRAYNOTIFY;
        iconData.szTip = CutTip(tooltip);
        os::TrayIconSpec spec;
        spec.id = id;
        spec.iconPath = icon;
        spec.tooltip = iconData.szTip;
        // Trays whose host draws the menu need it now; it is the same popup a right click
        // would show.
        if (auto menu = BuildPopup()) spec.hostMenu = menu->items;
        added = Tray().Add(
            spec, [this](unsigned iconId, unsigned message) { OnTrayNotify(iconId, message); },
            [this](int command) { Self().SendPanelCommand(command); });
        return added;
    }

    bool RemoveTrayIcon() {
        if (!added) return false;
        iconData.uFlags = 0;
        added = false;
        return Tray().Delete(iconData.uID);
    }

    void OnTrayNotify(unsigned iconId, unsigned mouseMessage) {
        if (iconId != iconData.uID) return;
        switch (mouseMessage) {
            case os::TRAY_RBUTTONUP: {
                auto popup = BuildPopup();
                if (!popup) return;
                const os::ScreenPoint at =
                    ClampToNearestWorkArea(Tray().CursorPos(), Tray().Monitors());
                Tray().TrackPopupMenu(popup->items, at);
                Self().PostPanelNull();
                break;
            }
            case os::TRAY_LBUTTONDBLCLK:
                Self().SendPanelCommand(defaultCommand);
                break;
            default:
                break;
        }
    }

    // The mix-in's share of the panel's messages.
    void OnTrayInitDialog() {
        normalIcon = JoinModulePath(ModuleDirectory(), IconResourcePath(IDI_PROGRAM_ICON));
        AddTrayIcon("", normalIcon, TRAY_ICON_ID);
    }
    void OnTrayDestroy() { RemoveTrayIcon(); }

    TrayIconData iconData;
    bool added = false;
    int defaultCommand = 0;
    std::string normalIcon;

  private:
    T& Self() { return static_cast<T&>(*this); }

    os::TrayIcon& Tray() {
        if (!tray_) tray_ = os::MakeTrayIcon();
        return *tray_;
    }

    std::optional<TrayMenu> BuildPopup() {
        auto popup = LoadTrayMenu(iconData.uID);
        if (!popup) return std::nullopt;
        PrepareTrayMenu(*popup);
        SetMenuDefaultItem(*popup, defaultCommand, defaultCommand == 0);
        return popup;
    }

    // The tip field holds 63 UTF-16 units and a terminator; never cut inside a character.
    static std::string CutTip(const std::string& tip) {
        size_t units = 0;
        size_t i = 0;
        while (i < tip.size()) {
            const unsigned char lead = static_cast<unsigned char>(tip[i]);
            const size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            const size_t need = len == 4 ? 2 : 1;
            if (units + need > 63 || i + len > tip.size()) break;
            units += need;
            i += len;
        }
        return tip.substr(0, i);
    }

    std::unique_ptr<os::TrayIcon> tray_;
};
