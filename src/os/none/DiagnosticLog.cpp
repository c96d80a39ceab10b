#include "os/DiagnosticLog.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

// Without a platform there is no folder for a log file: lines go to standard error only.
namespace os {

std::string DiagnosticLogPath() {
    return {};
}

bool AppendCappedLine(const std::string& path, const std::string& line, std::uintmax_t limitBytes) {
    // Nothing here can tell whose file the path names, so nothing is written.
    (void)path;
    (void)line;
    (void)limitBytes;
    return false;
}

bool LogEnabled(LogLevel level) {
    if (level != LogLevel::Debug) return true;
    const char* wanted = std::getenv("MAPLENOOK_LOG");
    return wanted != nullptr && std::string(wanted) == "debug";
}

void Log(LogLevel level, const std::string& what, const std::string& detail) {
    if (!LogEnabled(level)) return;
    static const char* const kLevelNames[] = {"error", "warning", "debug"};
    static std::mutex mutex;
    std::lock_guard<std::mutex> guard(mutex);
    std::fprintf(stderr, "maplenook: %s: %s\n", kLevelNames[static_cast<int>(level)],
                 EscapedForLog(what + ": " + detail, kLogLineLimit).c_str());
}

}  // namespace os
