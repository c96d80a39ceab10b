#include "base/SystemLauncher.h"

#include "os/Files.h"
#include "os/InstallFacts.h"

std::string SystemLauncherFor(const std::string& executable, const std::string& launcher,
                              const std::string& launcherResolved) {
    return !executable.empty() && launcherResolved == executable ? launcher : std::string();
}

std::string SystemLauncher() {
    const std::string folder = os::SystemProgramFolder();
    if (folder.empty()) return {};
    const std::string executable = os::ExecutablePath();
    const std::string launcher = folder + executable.substr(executable.find_last_of('/') + 1);
    return SystemLauncherFor(executable, launcher, os::ResolvedPath(launcher));
}
