#include "os/TerminationSignals.h"

#include "os/GuiThread.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdlib>

namespace os {
namespace {

// A modal dialog (the folder chooser, a message box) runs a loop of its own that quitting the
// main loop does not end: answer each one "closed", so its caller goes on as after a cancel and
// the main loop then ends.
void CloseModalDialogs() {
    GList* windows = gtk_window_list_toplevels();
    for (GList* at = windows; at != nullptr; at = at->next) {
        if (GTK_IS_DIALOG(at->data))
            gtk_dialog_response(GTK_DIALOG(at->data), GTK_RESPONSE_DELETE_EVENT);
    }
    g_list_free(windows);
}

gboolean OnTerminationSignal(gpointer) {
    // Outside the main loop (a message box at start-up, say) there is nothing to unwind.
    if (!QuitGuiLoop(0)) std::exit(0);
    CloseModalDialogs();
    return G_SOURCE_CONTINUE;
}

}  // namespace

void QuitOnTerminationSignals() {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        g_unix_signal_add(signal, OnTerminationSignal, nullptr);
    }
}

}  // namespace os
