#include "os/DiagnosticLog.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/UserDirs.h"
#include "os/linux/WriteAll.h"

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
    fs::create_directories(fs::path(path).parent_path(), error);
    // Only a regular file of this user's is ever rotated or written: never one a link planted
    // at the path points at, and never a FIFO that would block whoever logs.
    struct stat there {};
    if (lstat(path.c_str(), &there) == 0 && S_ISREG(there.st_mode) && there.st_uid == geteuid() &&
        static_cast<std::uintmax_t>(there.st_size) + line.size() + 1 > limitBytes) {
        if (rename(path.c_str(), (path + ".1").c_str()) != 0) unlink(path.c_str());
    }
    const int fd = open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    struct stat opened {};
    bool ok = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == geteuid();
    const std::string text = line + "\n";
    ok = ok && detail::WriteAllTo(fd, text.data(), text.size());
    return close(fd) == 0 && ok;
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
        // Whoever calls, the line is one line of printable text of a bounded length: names in
        // it come from pages, archives and servers.
        const std::string line = std::string("maplenook: ") + kLevelNames[static_cast<int>(level)] +
                                 ": " + EscapedForLog(what + ": " + detail, kLogLineLimit);
        std::lock_guard<std::mutex> guard(LogMutex());
        std::fprintf(stderr, "%s\n", line.c_str());
        const std::string path = DiagnosticLogPath();
        if (!path.empty()) AppendCappedLine(path, LocalTimeText() + " " + line, kLogLimitBytes);
    } catch (...) {
        // A log that cannot be written must not take the failing operation further down.
    }
}

}  // namespace os
