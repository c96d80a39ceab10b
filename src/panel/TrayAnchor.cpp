#include "panel/TrayAnchor.h"

std::optional<os::Rect> FindTrayRectIn(const std::optional<os::TaskbarFacts>& taskbar) {
    if (!taskbar) return std::nullopt;
    os::Rect tray = taskbar->rect;
    for (const auto& window : taskbar->descendants) {
        // Class names are compared as the system stores them: exactly, at most 255 characters.
        const std::string name = window.className.substr(0, 255);
        if (name == "TrayNotifyWnd") {
            tray = window.rect;
            break;
        }
        if (name == "TrayClockWClass") {
            tray.right = window.rect.left;
            break;
        }
    }
    return tray;
}
