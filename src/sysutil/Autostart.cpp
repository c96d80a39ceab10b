#include "sysutil/Autostart.h"

#include "base/CommandLine.h"
#include "base/SystemLauncher.h"
#include "os/Autostart.h"
#include "os/Files.h"

#include <utility>
#include <vector>

std::string AutostartTarget() {
    const std::string launcher = SystemLauncher();
    return launcher.empty() ? os::ExecutablePath() : launcher;
}

bool SetAutostart(const std::string& target, const std::string& arguments,
                  const std::string& workingDir, const std::string& name, bool enable,
                  const std::string& icon) {
    std::vector<std::string> command{target};
    for (auto& argument : SplitCommandLine(arguments)) command.push_back(std::move(argument));
    return os::SetAutostartEntry(name, command, workingDir, enable, icon);
}
