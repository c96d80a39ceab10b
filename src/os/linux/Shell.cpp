#include "os/Shell.h"

#include "os/Process.h"

#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool ShellOpen(const std::string& path, const std::vector<std::string>& args,
               const std::string& workingDir) {
    if (IsExecutableFile(path)) return StartDetached(path, args, workingDir);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    GFile* file = g_file_new_for_path(path.c_str());
    gchar* uri = g_file_get_uri(file);
    GError* error = nullptr;
    const gboolean ok = g_app_info_launch_default_for_uri(uri, nullptr, &error);
    if (error != nullptr) g_error_free(error);
    g_free(uri);
    g_object_unref(file);
    return ok != FALSE;
}

}  // namespace os
