#include "base/SettingsPlacement.h"

#include "base/Settings.h"
#include "base/SettingsRefresh.h"
#include "base/SystemLauncher.h"
#include "os/FileOps.h"
#include "os/Files.h"
#include "os/InstallFacts.h"
#include "os/PrivateFolder.h"
#include "os/UserDirs.h"

namespace {

constexpr const char* kUserFolderName = "MapleNook";
// The shipped cfg.ini as the user's copy last took it (see RefreshUserSettings).
constexpr const char* kSnapshotName = "shipped-cfg.ini";

std::string UserFolderOf(const std::string& userConfigDirectory) {
    return userConfigDirectory + "/" + kUserFolderName;
}

}  // namespace

std::string UserSettingsPath(const std::string& userConfigDirectory) {
    return UserFolderOf(userConfigDirectory) + "/cfg.ini";
}

SettingsPlacement ChooseSettingsPlacement(const SettingsFacts& facts) {
    const std::string shipped = SettingsPathFor(facts.moduleDirectory);
    const bool portable = facts.moduleDirectoryWritable && !facts.systemInstallation;
    if (portable || facts.userConfigDirectory.empty()) return {shipped, {}, {}};
    SettingsPlacement placement;
    placement.settingsPath = UserSettingsPath(facts.userConfigDirectory);
    placement.userFolder = UserFolderOf(facts.userConfigDirectory);
    if (!facts.userCopyExists) placement.seedFrom = shipped;
    return placement;
}

std::string ApplySettingsPlacement(const SettingsPlacement& placement,
                                   const std::string& moduleDirectory) {
    if (placement.userFolder.empty()) return placement.settingsPath;
    const std::string shipped = SettingsPathFor(moduleDirectory);
    const std::string configFolder =
        placement.userFolder.substr(0, placement.userFolder.find_last_of('/'));
    // A folder the user already has (even a link into their own dotfiles) is theirs to arrange.
    // One made here is private, and so is the configuration folder when this is the first
    // program to need it.
    if (!os::IsDirectory(placement.userFolder)) {
        if (!os::IsDirectory(configFolder) &&
            !(os::CreateDirectories(configFolder) && os::SetFileMode(configFolder, 0700))) {
            return shipped;
        }
        if (!os::MakePrivateFolder(placement.userFolder)) return shipped;
    }
    // The copy appears whole or not at all; one made meanwhile by a second start is kept.
    if (!placement.seedFrom.empty() &&
        !os::CopyFileNoReplace(placement.seedFrom, placement.settingsPath) &&
        !os::FileExists(placement.settingsPath)) {
        return shipped;
    }
    // A copy that cannot take a changed shipped file is still the user's: it is used as it is.
    RefreshUserSettings(placement.settingsPath, shipped,
                        placement.userFolder + "/" + kSnapshotName);
    return placement.settingsPath;
}

SettingsPlacement LocateSettings(const std::string& moduleDirectory) {
    SettingsFacts facts;
    facts.moduleDirectory = moduleDirectory;
    facts.moduleDirectoryWritable = os::CanWriteInFolder(moduleDirectory);
    facts.systemInstallation = !SystemLauncher().empty();
    facts.userConfigDirectory = os::UserConfigDirectory();
    facts.userCopyExists = !facts.userConfigDirectory.empty() &&
                           os::FileExists(UserSettingsPath(facts.userConfigDirectory));
    return ChooseSettingsPlacement(facts);
}

std::string PrepareSettingsPath(const std::string& moduleDirectory) {
    return ApplySettingsPlacement(LocateSettings(moduleDirectory), moduleDirectory);
}
