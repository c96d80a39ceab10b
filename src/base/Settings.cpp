#include "base/Settings.h"

#include "base/IniText.h"
#include "os/Files.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace {

// The last parse of each settings file with the stamp of the file it came from. A read checks
// the stamp and parses again only when the file changed, so a large file costs one parse per
// change rather than one per key, and every change, ours or a hand edit, is still seen.
struct ParsedFile {
    os::FileStamp stamp;
    std::shared_ptr<const IniText> ini;
};
std::mutex g_parsedMutex;
std::map<std::string, ParsedFile> g_parsed;

std::shared_ptr<const IniText> ReadIni(const std::string& file) {
    os::FileStamp stamp;
    if (!os::StampOf(file, stamp)) return nullptr;
    {
        std::lock_guard<std::mutex> guard(g_parsedMutex);
        const auto known = g_parsed.find(file);
        if (known != g_parsed.end() && known->second.stamp == stamp) return known->second.ini;
    }
    std::string bytes;
    if (!os::ReadWholeFile(file, bytes)) return nullptr;
    auto ini = std::make_shared<const IniText>(IniText::Decode(bytes));
    std::lock_guard<std::mutex> guard(g_parsedMutex);
    // Stamped before the read: a change during it shows as a new stamp next time.
    g_parsed[file] = ParsedFile{stamp, ini};
    return ini;
}

void ForgetParsed(const std::string& file) {
    std::lock_guard<std::mutex> guard(g_parsedMutex);
    g_parsed.erase(file);
}

}  // namespace

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
    // A name no write can store could only alias some other key.
    if (!IniText::IsStorableName(key, true)) return CutSettingValue(defaultValue);
    const auto ini = ReadIni(file);
    if (!ini) return CutSettingValue(defaultValue);
    const auto value = ini->Find(section, key);
    return CutSettingValue(value ? *value : defaultValue);
}

std::vector<std::pair<std::string, std::string>> ReadSettingSection(const std::string& file,
                                                                    const std::string& section) {
    const auto ini = ReadIni(file);
    if (!ini) return {};
    auto entries = ini->Entries(section);
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
    IniText ini;
    switch (os::KindOfPath(file)) {
        case os::PathKind::Missing:
            break;
        case os::PathKind::RegularFile: {
            // A file the user made read-only stays as it is, as does one we cannot read: it
            // must not be replaced by this one key.
            const auto current = ReadIni(file);
            if (!current || !os::IsUserWritableFile(file)) return 0;
            ini = *current;
            break;
        }
        case os::PathKind::Other:
            return 0;
    }
    if (!ini.Set(section, key, value)) return 0;
    const bool written = os::ReplaceFileAtomically(file, ini.Encode());
    ForgetParsed(file);
    return written ? 1 : 0;
}
