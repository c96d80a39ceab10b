#include "os/FolderDialog.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdlib>

#include "BuildConfig.h"
#include "os/GuiThread.h"
#include "os/linux/ToolkitLanguage.h"

namespace os {
namespace {

// Files can be made in it: writable and searchable by this user, on a mount that is not
// read-only.
bool IsWritableFolder(const std::string& path) {
    return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR) && access(path.c_str(), W_OK | X_OK) == 0;
}

// The message a chosen folder is refused with, or empty when it is taken.
std::string RefusalOf(const std::string& folder, const std::string& refusal,
                      const FolderRefusal& refuse) {
    if (refusal.empty()) return {};
    if (!IsWritableFolder(folder)) return refusal;
    return refuse ? refuse(folder) : std::string();
}

// The folder itself, or the nearest parent that exists: the chooser never falls back to Home,
// where one Return would make the home folder the answer.
std::string ExistingFolderAtOrAbove(const std::string& folder) {
    if (folder.empty()) return {};
    gchar* at = g_strdup(folder.c_str());
    while (!g_file_test(at, G_FILE_TEST_IS_DIR) && std::string(at) != "/" &&
           std::string(at) != ".") {
        gchar* parent = g_path_get_dirname(at);
        g_free(at);
        at = parent;
    }
    std::string found = g_file_test(at, G_FILE_TEST_IS_DIR) ? at : "";
    g_free(at);
    return found;
}

}  // namespace

std::optional<std::string> ChooseFolder(const std::string& title, const std::string& startFolder,
                                        const std::string& refusal, const FolderRefusal& refuse) {
#if MAPLENOOK_TEST_HOOKS
    // Test builds let an end-to-end test answer the dialog: a path chooses it, "-" cancels.
    if (const char* answer = std::getenv("MAPLENOOK_TEST_FOLDER_CHOICE")) {
        if (std::string(answer) == "-") return std::nullopt;
        if (!RefusalOf(answer, refusal, refuse).empty()) return std::nullopt;
        return std::string(answer);
    }
#endif
    detail::SpeakChineseInToolkitTexts();
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        title.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "取消", GTK_RESPONSE_CANCEL,
        "确定", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 640, 440);
    // Start in a real folder rather than "Recent", where no folder can be chosen, and let
    // Enter in the location field choose what it names.
    const std::string start = ExistingFolderAtOrAbove(startFolder);
    if (!start.empty()) {
        // Opened inside the current folder, with that folder chosen: OK keeps it.
        gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(dialog), start.c_str());
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), start.c_str());
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    std::optional<std::string> chosen;
    // A quit (SIGTERM) while the chooser or its refusal is up ends the choice as a cancel.
    while (!GuiLoopQuitting() && gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT &&
           !GuiLoopQuitting()) {
        // Only folders with a local path: anything else counts as no choice.
        gchar* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
        if (path == nullptr) break;
        const std::string folder = path;
        g_free(path);
        const std::string why = RefusalOf(folder, refusal, refuse);
        if (why.empty()) {
            chosen = folder;
            break;
        }
        GtkWidget* message =
            gtk_message_dialog_new(GTK_WINDOW(dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                   GTK_BUTTONS_NONE, "%s", why.c_str());
        gtk_dialog_add_button(GTK_DIALOG(message), "确定", GTK_RESPONSE_OK);
        gtk_window_set_title(GTK_WINDOW(message), title.c_str());
        gtk_dialog_run(GTK_DIALOG(message));
        gtk_widget_destroy(message);
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

}  // namespace os
