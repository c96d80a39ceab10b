#include "mainpanel/MainPanelPlacement.h"

PanelPlacement PlaceMainPanel(int x, int y, int width, int height, int screenWidth,
                              int screenHeight, const PlacementArea& workArea) {
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
