#include "os/Taskbar.h"

namespace os {

// Linux desktops have no "Shell_TrayWnd" and no caption animation: panels show and hide at
// once, as on Windows without a taskbar.
std::optional<TaskbarFacts> FindTaskbarWindows() {
    return std::nullopt;
}

int AnimateCaption(ScreenRect, ScreenRect) {
    return 0;
}

}  // namespace os
