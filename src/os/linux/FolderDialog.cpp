#include "os/FolderDialog.h"

#include <gtk/gtk.h>

#include <cstdlib>

#include "BuildConfig.h"

namespace os {

std::optional<std::string> ChooseFolder(const std::string& title) {
#if MAPLENOOK_TEST_HOOKS
    // Test builds let an end-to-end test answer the dialog: a path chooses it, "-" cancels.
    if (const char* answer = std::getenv("MAPLENOOK_TEST_FOLDER_CHOICE")) {
        if (std::string(answer) == "-") return std::nullopt;
        return std::string(answer);
    }
#endif
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        title.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "取消", GTK_RESPONSE_CANCEL,
        "确定", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 640, 440);
    // Start in a real folder rather than "Recent", where no folder can be chosen, and let
    // Enter in the location field choose what it names.
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), g_get_home_dir());
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    std::optional<std::string> chosen;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        // Only folders with a local path: anything else counts as no choice.
        if (gchar* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
            chosen = path;
            g_free(path);
        }
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

}  // namespace os
