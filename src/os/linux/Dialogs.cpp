#include "os/Dialogs.h"

#include <gtk/gtk.h>

#include "os/DiagnosticLog.h"

namespace os {

void ShowMessageBox(const std::string& text, const std::string& caption) {
    if (gdk_display_get_default() == nullptr) {
        // No display to show it on: the text still reaches whoever started the program.
        LogError("message", text);
        return;
    }
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                               GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), caption.empty() ? "Error" : caption.c_str());
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

}  // namespace os
