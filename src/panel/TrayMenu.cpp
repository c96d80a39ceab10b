#include "panel/TrayMenu.h"

#include <algorithm>
#include <limits>

std::optional<TrayMenu> LoadTrayMenu(unsigned id) {
    if (id != TRAY_ICON_ID) return std::nullopt;
    // Hosts that open the menu on a left click give no other way back to the panel.
    return TrayMenu{"MAIN_POP",
                    {os::TrayMenuItem{ID_SHOW_MAIN, "显示主面板", false},
                     os::TrayMenuItem{ID_APP_EXIT, "退出", false}}};
}

void SetMenuDefaultItem(TrayMenu& menu, int item, bool byPosition) {
    for (auto& entry : menu.items) entry.isDefault = false;
    if (byPosition) {
        if (item >= 0 && static_cast<size_t>(item) < menu.items.size()) {
            menu.items[static_cast<size_t>(item)].isDefault = true;
        }
        return;
    }
    for (auto& entry : menu.items) {
        if (entry.command == item) {
            entry.isDefault = true;
            return;
        }
    }
}

namespace {

long long DistanceSquared(const os::Rect& r, os::ScreenPoint p) {
    const long long dx = p.x < r.left ? r.left - p.x : (p.x >= r.right ? p.x - (r.right - 1) : 0);
    const long long dy = p.y < r.top ? r.top - p.y : (p.y >= r.bottom ? p.y - (r.bottom - 1) : 0);
    return dx * dx + dy * dy;
}

}  // namespace

os::ScreenPoint ClampToNearestWorkArea(os::ScreenPoint cursor,
                                       const std::vector<os::MonitorInfo>& monitors) {
    if (monitors.empty()) return cursor;
    for (const auto& m : monitors) {
        if (m.monitor.Contains(cursor.x, cursor.y)) return cursor;
    }
    const os::MonitorInfo* nearest = &monitors.front();
    long long best = std::numeric_limits<long long>::max();
    for (const auto& m : monitors) {
        const long long d = DistanceSquared(m.monitor, cursor);
        if (d < best) {
            best = d;
            nearest = &m;
        }
    }
    const os::Rect& work = nearest->work;
    cursor.x = std::clamp(cursor.x, work.left, std::max(work.left, work.right - 1));
    return cursor;
}

std::string IconResourcePath(int id) {
    return id == IDI_PROGRAM_ICON ? "\\res\\skin\\icon.png" : std::string();
}
