#include "app/SingleInstance.h"

#include "base/Settings.h"
#include "os/HandOver.h"
#include "os/UserTime.h"

#include <cstdint>

std::string WindowHandleText(long handle) {
    return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(handle)));
}

int HandOverToFirstInstance(const std::string& settingsPath, const std::string& runtimeFolder) {
    const int handle = ReadSettingInt(settingsPath, "app", "wnd", 0);
    if (handle == 0) return 0;
    // The first instance's panel comes forward for this start's user action, which a window
    // manager that prevents focus stealing asks for.
    const os::HandOverRequest request{SHOW_PANEL_COPYDATA, os::StartingUserTime()};
    return static_cast<int>(
        os::SendHandOverRequest(os::HandOverAddress(runtimeFolder, handle), request));
}
