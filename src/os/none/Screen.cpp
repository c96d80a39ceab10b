#include "os/Screen.h"

// No platform: no display, so no monitors and the pointer at the origin.
namespace os {

std::vector<MonitorInfo> ListMonitors() {
    return {};
}

ScreenPoint CursorPosition() {
    return {};
}

ScreenSize PrimaryScreenSize() {
    return {};
}

Rect PrimaryWorkArea() {
    return {};
}

}  // namespace os
