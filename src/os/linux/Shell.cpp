#include "os/Shell.h"

#include "os/DiagnosticLog.h"
#include "os/Process.h"

#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace os {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

namespace {

// Opens `uri` with the desktop's default handler for its scheme or, for a file, its type.
bool LaunchDefaultFor(const char* uri) {
    GError* error = nullptr;
    const gboolean ok = g_app_info_launch_default_for_uri(uri, nullptr, &error);
    if (ok == FALSE)
        LogError("no default handler started",
                 std::string(uri) + ": " + (error != nullptr ? error->message : "unknown"));
    if (error != nullptr) g_error_free(error);
    return ok != FALSE;
}

// "scheme:..." with a scheme of two or more characters; a lone letter would be a drive.
bool IsUri(const std::string& text) {
    gchar* scheme = g_uri_parse_scheme(text.c_str());
    const bool uri = scheme != nullptr && std::strlen(scheme) > 1;
    g_free(scheme);
    return uri;
}

}  // namespace

bool ShellOpen(const std::string& path, const std::vector<std::string>& args,
               const std::string& workingDir) {
    if (path.empty()) return false;
    if (IsExecutableFile(path)) return StartDetached(path, args, workingDir);
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    const int statError = errno;
    if (!exists && IsUri(path)) return LaunchDefaultFor(path.c_str());
    // A bare program name is looked for on PATH.
    if (!exists && path.find('/') == std::string::npos) {
        gchar* found = g_find_program_in_path(path.c_str());
        if (found == nullptr) {
            LogError("program did not start", path + ": not found on PATH");
            return false;
        }
        const std::string program = found;
        g_free(found);
        return StartDetached(program, args, workingDir);
    }
    if (!exists) {
        LogError("program did not start", path + ": " + std::strerror(statError));
        return false;
    }
    return OpenWithDefaultHandler(path);
}

bool OpenWithDefaultHandler(const std::string& path) {
    if (IsUri(path)) return LaunchDefaultFor(path.c_str());
    GFile* file = g_file_new_for_path(path.c_str());
    gchar* uri = g_file_get_uri(file);
    const bool ok = LaunchDefaultFor(uri);
    g_free(uri);
    g_object_unref(file);
    return ok;
}

}  // namespace os
