#include "os/Screen.h"

#include <gdk/gdk.h>

namespace os {
namespace {

Rect FromGdk(const GdkRectangle& r) {
    return {r.x, r.y, r.x + r.width, r.y + r.height};
}

}  // namespace

std::vector<MonitorInfo> ListMonitors() {
    std::vector<MonitorInfo> monitors;
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return monitors;
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
        GdkMonitor* m = gdk_display_get_monitor(display, i);
        GdkRectangle geometry{};
        GdkRectangle work{};
        gdk_monitor_get_geometry(m, &geometry);
        gdk_monitor_get_workarea(m, &work);
        monitors.push_back({FromGdk(geometry), FromGdk(work), gdk_monitor_is_primary(m) != 0});
    }
    return monitors;
}

ScreenPoint CursorPosition() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return {};
    GdkSeat* seat = gdk_display_get_default_seat(display);
    GdkDevice* pointer = seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
    if (pointer == nullptr) return {};
    ScreenPoint p;
    gdk_device_get_position(pointer, nullptr, &p.x, &p.y);
    return p;
}

ScreenSize PrimaryScreenSize() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return {};
    GdkMonitor* m = gdk_display_get_primary_monitor(display);
    // X servers without RandR output names (Xvfb) may report no primary: take the first.
    if (m == nullptr && gdk_display_get_n_monitors(display) > 0) {
        m = gdk_display_get_monitor(display, 0);
    }
    if (m == nullptr) return {};
    GdkRectangle geometry{};
    gdk_monitor_get_geometry(m, &geometry);
    return {geometry.width, geometry.height};
}

Rect PrimaryWorkArea() {
    const std::vector<MonitorInfo> monitors = ListMonitors();
    for (const auto& m : monitors) {
        if (m.primary) return m.work;
    }
    return monitors.empty() ? Rect{} : monitors.front().work;
}

}  // namespace os
