#include "os/TerminationSignals.h"

#include "os/Dialogs.h"
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
    // A modal dialog runs a loop of its own that quitting the main loop does not end.
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
