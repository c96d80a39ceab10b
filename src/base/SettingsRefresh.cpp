#include "base/SettingsRefresh.h"

#include "base/IniText.h"
#include "os/Files.h"

#include <array>

namespace {

// What the program and the page write.
constexpr std::array<const char*, 2> kStoredSections = {"app", "settings"};
// What only the shipped file describes.
constexpr std::array<const char*, 4> kDescriptionSections = {"resource", "mainpanel", "plash",
                                                             "poppanel"};

}  // namespace

bool RefreshUserSettings(const std::string& copy, const std::string& shipped,
                         const std::string& snapshot) {
    std::string shippedBytes;
    if (!os::ReadWholeFile(shipped, shippedBytes)) return false;
    std::string snapshotBytes;
    if (!os::ReadWholeFile(snapshot, snapshotBytes)) {
        return os::ReplaceFileAtomically(snapshot, shippedBytes);
    }
    if (snapshotBytes == shippedBytes) return true;

    std::string copyBytes;
    if (!os::ReadWholeFile(copy, copyBytes)) return false;
    const IniText user = IniText::Decode(copyBytes);
    const IniText before = IniText::Decode(snapshotBytes);
    IniText merged = IniText::Decode(shippedBytes);
    for (const char* section : kStoredSections) {
        for (const auto& [key, value] : user.Entries(section)) merged.Set(section, key, value);
    }
    for (const char* section : kDescriptionSections) {
        for (const auto& [key, value] : user.Entries(section)) {
            if (before.Find(section, key) != value) merged.Set(section, key, value);
        }
    }
    // Copy first: a crash in between repeats the refresh, which gives the same result.
    return os::ReplaceFileAtomically(copy, merged.Encode()) &&
           os::ReplaceFileAtomically(snapshot, shippedBytes);
}
