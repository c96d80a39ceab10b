#include "os/Taskbar.h"

// No platform: no taskbar and no caption animation.
namespace os {

std::optional<TaskbarFacts> FindTaskbarWindows() {
    return std::nullopt;
}

int AnimateCaption(Rect /*from*/, Rect /*to*/) {
    return 0;
}

}  // namespace os
