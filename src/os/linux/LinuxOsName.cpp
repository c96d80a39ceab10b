#include "os/linux/LinuxOsName.h"

#include "os/Files.h"
#include "os/OsName.h"

#include <sys/utsname.h>

#include <array>
#include <map>
#include <sstream>
#include <string_view>

namespace os {
namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
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
    static constexpr std::array<std::string_view, 12> k64BitMachines = {
        "x86_64", "amd64",   "aarch64", "arm64", "ppc64",       "ppc64le",
        "s390x",  "riscv64", "mips64",  "ia64",  "loongarch64", "sparc64"};
    static constexpr std::array<std::string_view, 9> k32BitMachines = {
        "i386", "i486", "i586", "i686", "armv6l", "armv7l", "arm", "mips", "ppc"};
    for (auto name : k64BitMachines) {
        if (machine == name) return ", 64-bit";
    }
    for (auto name : k32BitMachines) {
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
    return name;
}

KernelFacts ReadKernelFacts() {
    struct utsname names {};
    if (uname(&names) != 0) return {};
    return {names.release, names.machine};
}

std::string ReadOsReleaseText() {
    std::string text;
    if (ReadWholeFile("/etc/os-release", text)) return text;
    if (ReadWholeFile("/usr/lib/os-release", text)) return text;
    return {};
}

std::string OsName() {
    const KernelFacts kernel = ReadKernelFacts();
    return FormatLinuxOsName(OsReleaseName(ReadOsReleaseText()), kernel.release, kernel.machine);
}

}  // namespace os
