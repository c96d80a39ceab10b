#include "panel/TrayIconImpl.h"

#include <utility>

#include "base/Settings.h"

bool CTrayIconImpl::AddTrayIcon(const std::string& tooltip, const std::string& icon, unsigned id) {
    iconData_.uID = id;
    iconData_.icon = icon;
    iconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    iconData_.uCallbackMessage = WM_TRAYNOTIFY;
    iconData_.szTip = CutTip(tooltip);
    os::TrayIconSpec spec;
    spec.id = id;
    spec.iconPath = icon;
    spec.tooltip = iconData_.szTip;
    // Trays whose host draws the menu need it now; it is the same popup a right click
    // would show.
    if (auto menu = BuildPopup()) spec.hostMenu = menu->items;
    Tray().SetHostHandler([this](bool shown) {
        added_ = shown;
        if (onHost_) onHost_(shown);
    });
    wanted_ = true;
    added_ = Tray().Add(
        spec, [this](unsigned iconId, unsigned message) { OnTrayNotify(iconId, message); },
        [this](int command) { Command(command); });
    return added_;
}

bool CTrayIconImpl::RemoveTrayIcon() {
    if (!wanted_) return false;
    // Also when no host shows it: the tray stops waiting for one.
    wanted_ = false;
    iconData_.uFlags = 0;
    const bool shown = added_;
    added_ = false;
    return Tray().Delete(iconData_.uID) && shown;
}

void CTrayIconImpl::SetTooltip(const std::string& tooltip) {
    std::string tip = CutTip(tooltip);
    // Progress repeats the same words ten times a second; GTK starts a tooltip's delay again
    // at each change, so it would never show during a download.
    if (tip == iconData_.szTip) return;
    iconData_.szTip = std::move(tip);
    if (wanted_) Tray().SetTooltip(iconData_.szTip);
}

void CTrayIconImpl::OnTrayNotify(unsigned iconId, unsigned mouseMessage) {
    if (iconId != iconData_.uID) return;
    switch (mouseMessage) {
        case os::TRAY_RBUTTONUP: {
            auto popup = BuildPopup();
            if (!popup) return;
            const os::ScreenPoint at =
                ClampToNearestWorkArea(Tray().CursorPos(), Tray().Monitors());
            Tray().TrackPopupMenu(popup->items, at);
            break;
        }
        case os::TRAY_LBUTTONDBLCLK:
            Command(defaultCommand_);
            break;
        default:
            break;
    }
}

void CTrayIconImpl::AddProgramIcon() {
    AddTrayIcon("", JoinModulePath(ModuleDirectory(), IconResourcePath(IDI_PROGRAM_ICON)),
                TRAY_ICON_ID);
}

void CTrayIconImpl::Command(int command) {
    if (onCommand_) onCommand_(command);
}

os::TrayIcon& CTrayIconImpl::Tray() {
    if (!tray_) tray_ = os::MakeTrayIcon();
    return *tray_;
}

std::optional<TrayMenu> CTrayIconImpl::BuildPopup() {
    auto popup = LoadTrayMenu(iconData_.uID);
    if (!popup) return std::nullopt;
    SetMenuDefaultItem(*popup, defaultCommand_, defaultCommand_ == 0);
    return popup;
}

std::string CTrayIconImpl::CutTip(const std::string& tip) {
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
