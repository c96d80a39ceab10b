#include "os/Process.h"

#include <glib.h>
#include <unistd.h>

#include <string>

#include "os/DiagnosticLog.h"

namespace os {
namespace {

void NewSession(gpointer) {
    setsid();
}

}  // namespace

bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workingDir) {
    std::vector<gchar*> argv;
    argv.push_back(const_cast<gchar*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<gchar*>(a.c_str()));
    argv.push_back(nullptr);
    // Without G_SPAWN_DO_NOT_REAP_CHILD GLib double-forks, so the child is never our zombie.
    const auto flags = static_cast<GSpawnFlags>(
        G_SPAWN_STDIN_FROM_DEV_NULL | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
    // A program written a moment ago can be "busy" for a short while: a child forked by another
    // thread of this process holds the write descriptor until its own exec closes it. That
    // passes within milliseconds, so such a start is tried again rather than failed.
    for (int attempt = 0;; ++attempt) {
        GError* error = nullptr;
        const gboolean ok =
            g_spawn_async(workingDir.empty() ? nullptr : workingDir.c_str(), argv.data(), nullptr,
                          flags, NewSession, nullptr, nullptr, &error);
        // GLib reports ETXTBSY either as TXTBUSY or, in some versions, as FAILED.
        const bool busy =
            error != nullptr && (g_error_matches(error, G_SPAWN_ERROR, G_SPAWN_ERROR_TXTBUSY) ||
                                 (g_error_matches(error, G_SPAWN_ERROR, G_SPAWN_ERROR_FAILED) &&
                                  access(program.c_str(), X_OK) == 0));
        const std::string why = error != nullptr ? error->message : "unknown";
        if (error != nullptr) g_error_free(error);
        if (ok != FALSE) return true;
        if (!busy || attempt >= 50) {
            LogError("program did not start", program + ": " + why);
            return false;
        }
        g_usleep(10000);
    }
}

long CurrentProcessId() {
    return static_cast<long>(getpid());
}

}  // namespace os
