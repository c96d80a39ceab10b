#include "os/UserTime.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <cstring>
#include <string>

// The time is the X server time in the launcher's startup id (its "_TIME<n>" part).

namespace os {
namespace {

// "..._TIME<decimal>" at the end of a startup notification id; 0 when there is none.
unsigned long TimeOfStartupId(const char* id) {
    if (id == nullptr) return 0;
    const char* mark = std::strstr(id, "_TIME");
    if (mark == nullptr) return 0;
    const char* digits = mark + 5;
    if (*digits < '0' || *digits > '9') return 0;
    char* end = nullptr;
    const unsigned long long time = std::strtoull(digits, &end, 10);
    if (*end != '\0' || time > 0xFFFFFFFFull) return 0;
    return static_cast<unsigned long>(time);
}

}  // namespace

unsigned long StartingUserTime() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return 0;
    // GDK took the launcher's DESKTOP_STARTUP_ID out of the environment when it opened the
    // display and keeps it.
    const char* startupId = gdk_x11_display_get_startup_notification_id(display);
    unsigned long time = TimeOfStartupId(startupId);
    if (startupId != nullptr && *startupId != '\0') gdk_notify_startup_complete();
    if (time != 0) return time;
    // A realised, never shown toplevel answers the server's time (GTK selects property
    // changes on toplevels, which the round trip needs).
    GtkWidget* probe = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_realize(probe);
    if (GdkWindow* window = gtk_widget_get_window(probe);
        window != nullptr && GDK_IS_X11_WINDOW(window))
        time = gdk_x11_get_server_time(window);
    gtk_widget_destroy(probe);
    return time;
}

}  // namespace os
