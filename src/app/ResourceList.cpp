#include "app/ResourceList.h"

#include "base/Settings.h"
#include "panel/ImageRegistry.h"

#include <cstdlib>
#include <map>

void RegisterResourceList(const std::string& settingsPath, const std::string& moduleDirectory,
                          ImageRegistry& registry) {
    const int total = ReadSettingInt(settingsPath, "resource", "total", 0);
    if (total <= 0) return;
    // Entry i is the key spelled exactly as the number i. Only entries that exist can name an
    // image, so walking them (rather than counting up to `total`, one file read per number)
    // keeps a damaged total such as 2000000000 from stalling start-up; the result is the same.
    std::map<int, std::string> entries;
    for (const auto& [key, value] : ReadSettingSection(settingsPath, "resource")) {
        if (key.empty() || key.size() > 10) continue;
        const long long number = std::strtoll(key.c_str(), nullptr, 10);
        if (number < 1 || number > total || std::to_string(number) != key) continue;
        entries.emplace(static_cast<int>(number), value);
    }
    for (const auto& [number, relative] : entries) {
        registry.RegisterImage(std::to_string(number), JoinModulePath(moduleDirectory, relative));
    }
}
