#include "phone/ToolSources.h"

#include "os/InstallFacts.h"

std::string ToolSourceFolder(const std::string& moduleDirectory, bool shipsToolFolder) {
    return shipsToolFolder ? moduleDirectory + "/adb/" : os::SystemProgramFolder();
}
