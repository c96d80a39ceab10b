#include <gdk/gdk.h>
#include <glib.h>
#include <gtk/gtk.h>

#include "os/WebView.h"

namespace os {

bool InitGuiToolkit() {
    static const bool ready = [] {
        // Panels place themselves on the screen, which Wayland clients cannot: use X11
        // (XWayland under a Wayland session).
        gdk_set_allowed_backends("x11");
        return gtk_init_check(nullptr, nullptr) != FALSE;
    }();
    return ready;
}

MonitorAreas MonitorAreasAt(int x, int y) {
    MonitorAreas areas;
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return areas;
    GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, x, y);
    if (monitor == nullptr) return areas;
    GdkRectangle geometry{};
    GdkRectangle work{};
    gdk_monitor_get_geometry(monitor, &geometry);
    gdk_monitor_get_workarea(monitor, &work);
    areas.screen = {geometry.x, geometry.y, geometry.x + geometry.width,
                    geometry.y + geometry.height};
    areas.workArea = {work.x, work.y, work.x + work.width, work.y + work.height};
    return areas;
}

std::string UserDataFolderForKey(const std::string& optionKey) {
    std::string key = optionKey;
    static const char kSoftware[] = "software\\";
    if (g_ascii_strncasecmp(key.c_str(), kSoftware, sizeof kSoftware - 1) == 0) {
        key.erase(0, sizeof kSoftware - 1);
    }
    std::string folder = g_get_user_data_dir();
    size_t start = 0;
    while (start <= key.size()) {
        size_t end = key.find_first_of("\\/", start);
        if (end == std::string::npos) end = key.size();
        const std::string part = key.substr(start, end - start);
        // A key names a place below the data folder, never above it.
        if (!part.empty() && part != "." && part != "..") folder += "/" + part;
        start = end + 1;
    }
    return folder;
}

}  // namespace os
