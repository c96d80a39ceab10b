#include "base/Settings.h"

#include "base/IniText.h"
#include "os/Files.h"

#include <cstdlib>

std::string ModuleDirectory() {
    const std::string exe = os::ExecutablePath();
    const auto slash = exe.find_last_of('/');
    if (slash == std::string::npos) return exe;
    return exe.substr(0, slash);
}

std::string JoinModulePath(const std::string& dir, const std::string& relative) {
    std::string joined = dir + relative;
    for (auto& c : joined) {
        if (c == '\\') c = '/';
    }
    return joined;
}

std::string ShortPathOf(const std::string& path) {
    return path;
}

std::string SettingsPathFor(const std::string& moduleDirectory) {
    return moduleDirectory + "/cfg.ini";
}

std::string ReadSettingString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
    std::string bytes;
    // A name no write can store could only alias some other key.
    if (!IniText::IsStorableName(key, true)) return CutSettingValue(defaultValue);
    if (!os::ReadWholeFile(file, bytes)) return CutSettingValue(defaultValue);
    const IniText ini = IniText::Decode(bytes);
    const auto value = ini.Find(section, key);
    return CutSettingValue(value ? *value : defaultValue);
}

std::vector<std::pair<std::string, std::string>> ReadSettingSection(const std::string& file,
                                                                    const std::string& section) {
    std::string bytes;
    if (!os::ReadWholeFile(file, bytes)) return {};
    auto entries = IniText::Decode(bytes).Entries(section);
    for (auto& entry : entries) entry.second = CutSettingValue(entry.second);
    return entries;
}

int ReadSettingInt(const std::string& file, const std::string& section, const std::string& key,
                   int defaultValue) {
    const std::string text = ReadSettingString(file, section, key);
    const int value = LeadingDecimal(text);
    return value == 0 ? defaultValue : value;
}

int WriteSettingString(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value) {
    // A key that would read back as another key or as a section header is never written.
    if (!IniText::IsStorableName(section, false) || !IniText::IsStorableName(key, true)) return 0;
    std::string bytes;
    IniText ini;
    if (os::ReadWholeFile(file, bytes)) {
        ini = IniText::Decode(bytes);
    } else if (os::FileExists(file)) {
        // A file that is there but cannot be read must not be replaced by this one key.
        return 0;
    }
    if (!ini.Set(section, key, value)) return 0;
    return os::ReplaceFileAtomically(file, ini.Encode()) ? 1 : 0;
}
