#pragma once
#include <string>

#include "panel/ImageRegistry.h"

// What the user is told when the installation is damaged.
inline constexpr const char* kDamagedInstallationText = "文件已被破坏，请重新安装进行修复!";

// The installation is whole when the local page res/web/brush.html exists and the main
// panel's background image ([mainpanel] bkimage) is registered (in the process's registry
// unless another is given).
bool IsInstallationIntact(const std::string& settingsPath, const std::string& moduleDirectory,
                          const ImageRegistry& registry = GetImageRegistry());
// What is missing from it: the file's path (the background's as the resource list names it,
// or the setting itself when no resource is named); empty when it is whole.
std::string MissingInstallationPart(const std::string& settingsPath,
                                    const std::string& moduleDirectory,
                                    const ImageRegistry& registry = GetImageRegistry());
// The damaged-installation message, naming what is missing.
std::string DamagedInstallationText(const std::string& missing);

// What the user is told when their settings file is there but is not a file (a folder, a FIFO).
std::string SettingsFileRefusedText(const std::string& settingsPath);
