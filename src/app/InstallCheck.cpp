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

std::string SettingsFileRefusedText(const std::string& settingsPath) {
    return "设置文件 " + settingsPath + " 不是普通文件，无法读取。请删除或改名后再启动 MapleNook。";
}
