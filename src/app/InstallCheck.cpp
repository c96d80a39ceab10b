#include "app/InstallCheck.h"

#include "base/Settings.h"
#include "os/Files.h"
#include "panel/ImageRegistry.h"

bool IsInstallationIntact(const std::string& settingsPath, const std::string& moduleDirectory,
                          const ImageRegistry& registry) {
    return MissingInstallationPart(settingsPath, moduleDirectory, registry).empty();
}

std::string MissingInstallationPart(const std::string& settingsPath,
                                    const std::string& moduleDirectory,
                                    const ImageRegistry& registry) {
    const std::string page = JoinModulePath(moduleDirectory, "\\res\\web\\brush.html");
    if (!os::FileExists(page)) return page;
    const std::string bkimage = ReadSettingString(settingsPath, "mainpanel", "bkimage");
    if (registry.FindImage(bkimage) != nullptr) return {};
    const std::string listed = ReadSettingString(settingsPath, "resource", bkimage);
    if (bkimage.empty() || listed.empty()) return settingsPath + " [mainpanel] bkimage=" + bkimage;
    return JoinModulePath(moduleDirectory, listed);
}

std::string DamagedInstallationText(const std::string& missing) {
    return std::string(kDamagedInstallationText) + "\n缺少或无法读取：" + missing;
}

std::string SettingsFileRefusedText(const std::string& settingsPath) {
    return "设置文件 " + settingsPath + " 不是普通文件，无法读取。请删除或改名后再启动 MapleNook。";
}
