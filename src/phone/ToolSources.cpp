#include "phone/ToolSources.h"

std::string ToolSourceFolder(const std::string& moduleDirectory, bool shipsToolFolder) {
    return shipsToolFolder ? moduleDirectory + "/adb/" : std::string("/usr/bin/");
}
