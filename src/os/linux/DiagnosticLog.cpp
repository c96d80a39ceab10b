#include "os/DiagnosticLog.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "os/UserDirs.h"

namespace os {
namespace {

constexpr std::uintmax_t kLogLimitBytes = 512 * 1024;

std::mutex& LogMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string LocalTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, n);
}

}  // namespace

std::string DiagnosticLogPath() {
    const std::string state = UserStateDirectory();
    return state.empty() ? std::string() : state + "/MapleNook/maplenook.log";
}

bool AppendCappedLine(const std::string& path, const std::string& line, std::uintmax_t limitBytes) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path file(path);
    fs::create_directories(file.parent_path(), error);
    const std::uintmax_t size = fs::file_size(file, error);
    if (!error && size + line.size() + 1 > limitBytes) {
        fs::rename(file, fs::path(path + ".1"), error);
        if (error) fs::remove(file, error);
    }
    std::ofstream out(file, std::ios::app | std::ios::binary);
    out << line << '\n';
    out.flush();
    return static_cast<bool>(out);
}

bool LogEnabled(LogLevel level) {
    if (level != LogLevel::Debug) return true;
    static const bool debug = [] {
        const char* wanted = std::getenv("MAPLENOOK_LOG");
        return wanted != nullptr && std::string(wanted) == "debug";
    }();
    return debug;
}

void Log(LogLevel level, const std::string& what, const std::string& detail) {
    if (!LogEnabled(level)) return;
    static const char* const kLevelNames[] = {"error", "warning", "debug"};
    try {
        const std::string line = std::string("maplenook: ") + kLevelNames[static_cast<int>(level)] +
                                 ": " + what + ": " + detail;
        std::lock_guard<std::mutex> guard(LogMutex());
        std::fprintf(stderr, "%s\n", line.c_str());
        const std::string path = DiagnosticLogPath();
        if (!path.empty()) AppendCappedLine(path, LocalTimeText() + " " + line, kLogLimitBytes);
    } catch (...) {
        // A log that cannot be written must not take the failing operation further down.
    }
}

}  // namespace os
