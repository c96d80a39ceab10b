#include "os/Toolkit.h"

#include "os/GuiThread.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdlib>

namespace os {
namespace {

gboolean OnTerminationSignal(gpointer) {
    // Outside the main loop (a message box at start-up, say) there is nothing to unwind.
    if (!QuitGuiLoop(0)) std::exit(0);
    return G_SOURCE_CONTINUE;
}

}  // namespace

bool InitGuiToolkit() {
    gdk_set_allowed_backends("x11");
    const bool ready = gtk_init_check(nullptr, nullptr) != FALSE;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        g_unix_signal_add(signal, OnTerminationSignal, nullptr);
    }
    return ready;
}

}  // namespace os
