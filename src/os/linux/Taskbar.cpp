#include "os/Taskbar.h"

namespace os {

// Linux desktops offer no taskbar window to animate towards: panels show and hide at once.
std::optional<TaskbarFacts> FindTaskbarWindows() {
    return std::nullopt;
}

int AnimateCaption(Rect, Rect) {
    return 0;
}

}  // namespace os
