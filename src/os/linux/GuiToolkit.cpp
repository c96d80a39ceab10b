#include <gdk/gdk.h>
#include <glib.h>
#include <gtk/gtk.h>

#include <string>

#include "os/DiagnosticLog.h"
#include "os/WebView.h"

namespace os {
namespace {

// GLib, GTK and WebKit report through GLib's log; their lines go the way of ours, escaped and
// capped, since they may quote what a page or a file held.
GLogWriterOutput WriteToDiagnosticLog(GLogLevelFlags level, const GLogField* fields, gsize count,
                                      gpointer) {
    std::string domain = "glib";
    std::string message;
    for (gsize i = 0; i < count; ++i) {
        const std::string key = fields[i].key;
        const auto* value = static_cast<const char*>(fields[i].value);
        if (value == nullptr) continue;
        const std::string text = fields[i].length < 0
                                     ? std::string(value)
                                     : std::string(value, static_cast<size_t>(fields[i].length));
        if (key == "GLIB_DOMAIN") domain = text;
        if (key == "MESSAGE") message = text;
    }
    if (g_log_writer_default_would_drop(level, domain.c_str())) return G_LOG_WRITER_HANDLED;
    if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) != 0) {
        LogError(domain, message);
    } else if ((level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE)) != 0) {
        LogWarning(domain, message);
    } else {
        LogDebug(domain, message);
    }
    return G_LOG_WRITER_HANDLED;
}

}  // namespace

bool InitGuiToolkit() {
    static const bool ready = [] {
        // Panels place themselves on the screen, which Wayland clients cannot: use X11
        // (XWayland under a Wayland session).
        gdk_set_allowed_backends("x11");
        g_log_set_writer_func(WriteToDiagnosticLog, nullptr, nullptr);
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
