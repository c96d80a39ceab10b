#include "os/Autostart.h"

#include "os/Files.h"
#include "os/UserDirs.h"

#include <filesystem>
#include <system_error>

// The entry is an XDG autostart desktop entry: $XDG_CONFIG_HOME/autostart/<name>.desktop
// (~/.config/autostart by default).

namespace fs = std::filesystem;

namespace os {
namespace {

bool IsEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// Escapes of every string value in a desktop entry; a leading blank would otherwise be trimmed.
std::string EscapeValue(const std::string& value) {
    std::string escaped;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == ' ' && i == 0) {
            escaped += "\\s";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// One Exec argument, always in double quotes, with the characters that are special inside them
// backslash-escaped and "%" doubled so it is not read as a field code. The value escapes are
// applied afterwards to the whole line, which doubles these backslashes once more as required.
std::string QuoteExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

std::string EntryPath(const std::string& name) {
    const std::string config = UserConfigDirectory();
    if (config.empty() || !IsEntryName(name)) return {};
    return config + "/autostart/" + name + ".desktop";
}

std::string EntryText(const std::vector<std::string>& command, const std::string& workingDir,
                      const std::string& name, const std::string& icon) {
    std::string exec;
    for (const auto& argument : command)
        exec += (exec.empty() ? "" : " ") + QuoteExecArgument(argument);
    std::string text = "[Desktop Entry]\nType=Application\n";
    text += "Name=" + EscapeValue(name) + "\n";
    text += "Comment=" + EscapeValue(name) + "\n";
    text += "Exec=" + EscapeValue(exec) + "\n";
    if (!workingDir.empty()) text += "Path=" + EscapeValue(workingDir) + "\n";
    if (!icon.empty()) text += "Icon=" + EscapeValue(icon) + "\n";
    text += "Terminal=false\n";
    return text;
}

}  // namespace

bool SetAutostartEntry(const std::string& name, const std::vector<std::string>& command,
                       const std::string& workingDir, bool enable, const std::string& icon) {
    const std::string path = EntryPath(name);
    if (path.empty()) return false;
    std::error_code error;
    if (!enable) return fs::remove(path, error);
    if (command.empty() || command.front().empty()) return false;
    const fs::path folder = fs::path(path).parent_path();
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) return false;
    return ReplaceFileAtomically(path, EntryText(command, workingDir, name, icon));
}

}  // namespace os
