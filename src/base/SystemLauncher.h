#pragma once
#include <string>

// The command a system package installs for the running program: its file name in the
// system's program folder (os::SystemProgramFolder) when that resolves to the running
// executable (the package's launcher link); else empty, as for a portable folder.
std::string SystemLauncher();

// The same decision over its facts: `launcherResolved` is `launcher` with its links resolved.
std::string SystemLauncherFor(const std::string& executable, const std::string& launcher,
                              const std::string& launcherResolved);
