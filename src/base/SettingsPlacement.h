#pragma once
#include <string>

// Where cfg.ini is read and written. A portable folder keeps it beside the program; a system
// package, or any installation the user cannot write to, gets a per-user copy of the shipped
// file, made once and used from then on. Even root keeps its own copy rather than change a
// package's file. Module-relative texts in the file still
// resolve against the module directory, wherever the file lives.

struct SettingsFacts {
    std::string moduleDirectory;
    bool moduleDirectoryWritable = false;
    // Run through a system package's launcher (see SystemLauncher).
    bool systemInstallation = false;
    // os::UserConfigDirectory(); empty when no home is known.
    std::string userConfigDirectory;
    bool userCopyExists = false;
};

struct SettingsPlacement {
    std::string settingsPath;
    // The per-user folder to make (mode 0700) before use; empty when the module's file is used.
    std::string userFolder;
    // The shipped file to copy to settingsPath first; empty when nothing is to be copied.
    std::string seedFrom;
};

// The per-user copy's path for `userConfigDirectory`: <dir>/MapleNook/cfg.ini.
std::string UserSettingsPath(const std::string& userConfigDirectory);

SettingsPlacement ChooseSettingsPlacement(const SettingsFacts& facts);

// Makes the per-user folder and copy that `placement` asks for and gives the path to use.
// When they cannot be made, the shipped file is used as it is: it still reads, and writes fail
// as they would in any read-only place.
std::string ApplySettingsPlacement(const SettingsPlacement& placement,
                                   const std::string& moduleDirectory);

// Gathers the facts for `moduleDirectory` and chooses, without making or changing anything, so
// a second start that only hands over leaves the user's files alone.
SettingsPlacement LocateSettings(const std::string& moduleDirectory);

// LocateSettings, then ApplySettingsPlacement: SettingsPath.
std::string PrepareSettingsPath(const std::string& moduleDirectory);
