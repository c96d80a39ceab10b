#include "sysutil/LinuxOsName.h"

#include "base/TextTrim.h"
#include "sysutil/WindowsOsName.h"

#include <array>
#include <map>
#include <sstream>
#include <string_view>

namespace {

std::string Trim(const std::string& text) {
    return TrimmedOf(text, " \t\r");
}

std::string Unquote(const std::string& raw) {
    if (raw.size() >= 2 && raw.front() == '\'' && raw.back() == '\'') {
        return raw.substr(1, raw.size() - 2);
    }
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return raw;
    std::string value;
    for (size_t i = 1; i + 1 < raw.size(); ++i) {
        const bool escaped = raw[i] == '\\' && i + 2 < raw.size() &&
                             std::string_view("\"\\$`").find(raw[i + 1]) != std::string_view::npos;
        if (escaped) ++i;
        value += raw[i];
    }
    return value;
}

std::map<std::string, std::string> ParseAssignments(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty() || line.front() == '#') continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        values[line.substr(0, equals)] = Unquote(Trim(line.substr(equals + 1)));
    }
    return values;
}

const char* Bitness(const std::string& machine) {
    static constexpr std::array<std::string_view, 12> k64 = {
        "x86_64", "amd64",   "aarch64", "arm64", "ppc64",       "ppc64le",
        "s390x",  "riscv64", "mips64",  "ia64",  "loongarch64", "sparc64"};
    static constexpr std::array<std::string_view, 9> k32 = {
        "i386", "i486", "i586", "i686", "armv6l", "armv7l", "arm", "mips", "ppc"};
    for (auto name : k64) {
        if (machine == name) return ", 64-bit";
    }
    for (auto name : k32) {
        if (machine == name) return ", 32-bit";
    }
    return "";
}

}  // namespace

std::string OsReleaseName(const std::string& osReleaseText) {
    const auto values = ParseAssignments(osReleaseText);
    const auto pretty = values.find("PRETTY_NAME");
    if (pretty != values.end() && !pretty->second.empty()) return pretty->second;
    const auto name = values.find("NAME");
    if (name == values.end() || name->second.empty()) return "Linux";
    const auto version = values.find("VERSION");
    if (version == values.end() || version->second.empty()) return name->second;
    return name->second + " " + version->second;
}

std::string FormatLinuxOsName(const std::string& distributionName, const std::string& kernelRelease,
                              const std::string& machine) {
    std::string name = distributionName.empty() ? "Linux" : distributionName;
    if (!kernelRelease.empty()) name += " (kernel " + kernelRelease + ")";
    name += Bitness(machine);
    return TruncateCharacters(name, 255);
}
