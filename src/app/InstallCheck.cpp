#include "app/InstallCheck.h"

#include "base/Settings.h"
#include "os/Files.h"
#include "panel/ImageRegistry.h"

bool IsInstallationIntact(const std::string& settingsPath, const std::string& moduleDirectory,
                          const ImageRegistry& registry) {
    const std::string bkimage = ReadSettingString(settingsPath, "mainpanel", "bkimage");
    return os::FileExists(JoinModulePath(moduleDirectory, "\\res\\web\\brush.html")) &&
           registry.FindImage(bkimage) != nullptr;
}
