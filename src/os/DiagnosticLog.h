#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace os {

// The diagnostic log: one line for each thing that failed where the user cannot see why
// (a download, an extraction, a tool that would not start, a refused bridge call, a hand-over
// that broke). The page is told nothing more than before; the line is for whoever looks into it.

enum class LogLevel { Error, Warning, Debug };

// Writes "maplenook: <level>: <what>: <detail>" to stderr and appends it, with the local time in
// front, to DiagnosticLogPath(). "<what>: <detail>" is escaped and cut as EscapedForLog does
// with kLogLineLimit, so no caller can write a second line, a terminal escape or a huge line. Debug
// lines are written only when the environment says MAPLENOOK_LOG=debug. Any thread; never throws; a
// log file that cannot be written leaves the line on stderr alone. Log where a failure is detected,
// with its cause.
void Log(LogLevel level, const std::string& what, const std::string& detail);
inline void LogError(const std::string& what, const std::string& detail) {
    Log(LogLevel::Error, what, detail);
}
inline void LogWarning(const std::string& what, const std::string& detail) {
    Log(LogLevel::Warning, what, detail);
}
inline void LogDebug(const std::string& what, const std::string& detail) {
    Log(LogLevel::Debug, what, detail);
}
// Whether lines of `level` are written at all (cheap: callers may skip building a detail).
bool LogEnabled(LogLevel level);
// The same as LogError; kept for the callers that already say "failure".
inline void LogFailure(const std::string& what, const std::string& detail) {
    LogError(what, detail);
}

// MapleNook/maplenook.log in the user's state folder (UserStateDirectory); empty without a home.
std::string DiagnosticLogPath();

// How much of a line's "<what>: <detail>" is kept, escaped.
constexpr size_t kLogLineLimit = 4096;

// `text` with every control character (C0, DEL and C1), the backslash itself, the Unicode line
// and paragraph separators and every byte that is not part of valid UTF-8 written as "\xNN", so
// logged names can neither forge lines nor send escape sequences to a terminal. At most `limit`
// bytes of escaped text are kept (whole characters), then " [<n> bytes cut]".
std::string EscapedForLog(const std::string& text, size_t limit = std::string::npos);

// Appends `line` and a newline to `path`, creating its folder. Only a regular file this user
// owns is written (never through a symlink, never a FIFO or device, which could block); else
// false. When the file would grow past
// `limitBytes`, it first becomes "<path>.1" (replacing an older one) and a new file starts, so
// the log never takes more than about twice the limit. False when the line was not written.
bool AppendCappedLine(const std::string& path, const std::string& line, std::uintmax_t limitBytes);

}  // namespace os
