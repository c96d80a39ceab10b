#include "mainpanel/MainPanelPlacement.h"

#include "base/Settings.h"
#include "os/Screen.h"
#include "os/Window.h"

PanelPlacement PlaceMainPanel(int x, int y, int width, int height, int screenWidth,
                              int screenHeight, const os::Rect& workArea) {
    if (x != 0 || y != 0) return {screenWidth - width - x, screenHeight - height - y, true};
    const int areaWidth = workArea.right - workArea.left;
    const int areaHeight = workArea.bottom - workArea.top;
    return {workArea.left + (areaWidth - width) / 2, workArea.top + (areaHeight - height) / 2,
            false};
}

std::string MainPageUrlAt(const std::string& mainPageUrl, int64_t secondsSince1970) {
    const auto low = static_cast<int32_t>(static_cast<uint32_t>(secondsSince1970 & 0xFFFFFFFF));
    return mainPageUrl + "?t=" + std::to_string(low);
}

void PlaceMainPanelWindow(os::Window& window, const std::string& settingsPath,
                          const std::string& panelName) {
    const os::Size client = window.ClientSize();
    const os::Rect outer = window.ScreenRect();
    const os::ScreenSize screen = os::PrimaryScreenSize();
    const int x = ReadSettingInt(settingsPath, panelName, "x");
    const int y = ReadSettingInt(settingsPath, panelName, "y");
    const os::MonitorAreas areas =
        os::MonitorAreasAt(outer.left + outer.width() / 2, outer.top + outer.height() / 2);
    const PanelPlacement place = PlaceMainPanel(x, y, client.width, client.height, screen.width,
                                                screen.height, areas.workArea);
    window.MoveResize(
        {place.left, place.top, place.left + outer.width(), place.top + outer.height()});
    if (place.topmost) window.SetKeepAbove(true);
}
