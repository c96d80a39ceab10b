#include "os/Dialogs.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "os/DiagnosticLog.h"
#include "os/linux/ToolkitLanguage.h"

namespace os {

void ShowMessageBox(const std::string& text, const std::string& caption) {
    if (gdk_display_get_default() == nullptr) {
        // No display to show it on: the text still reaches whoever started the program, line
        // by line as the box would show it, each line escaped as a log line is.
        std::string shown;
        size_t start = 0;
        while (start <= text.size()) {
            const size_t end = std::min(text.find('\n', start), text.size());
            shown += EscapedForLog(text.substr(start, end - start), kLogLineLimit) + "\n";
            start = end + 1;
        }
        std::fputs(shown.c_str(), stderr);
        return;
    }
    detail::SpeakChineseInToolkitTexts();
    // The button and the title in the program's words: the box speaks the page's language
    // whatever the desktop's locale.
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                               GTK_BUTTONS_NONE, "%s", text.c_str());
    gtk_dialog_add_button(GTK_DIALOG(dialog), "确定", GTK_RESPONSE_OK);
    gtk_window_set_title(GTK_WINDOW(dialog), caption.empty() ? "错误" : caption.c_str());
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

bool CloseModalDialogs() {
    bool any = false;
    GList* windows = gtk_window_list_toplevels();
    for (GList* at = windows; at != nullptr; at = at->next) {
        if (!GTK_IS_DIALOG(at->data) || !gtk_widget_get_visible(GTK_WIDGET(at->data))) continue;
        gtk_dialog_response(GTK_DIALOG(at->data), GTK_RESPONSE_DELETE_EVENT);
        any = true;
    }
    g_list_free(windows);
    return any;
}

}  // namespace os
