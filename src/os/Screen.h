#pragma once
#include <vector>

#include "os/Rect.h"

namespace os {

struct ScreenPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

struct MonitorInfo {
    Rect monitor;
    Rect work;  // without panels and docks
    bool primary = false;
};

// Every monitor of the default display; empty without a display.
std::vector<MonitorInfo> ListMonitors();

// Where the mouse pointer is; (0, 0) without a display.
ScreenPoint CursorPosition();

// Size of the primary monitor in pixels (the whole screen, not the work area).
struct ScreenSize {
    int width = 0;
    int height = 0;
};
ScreenSize PrimaryScreenSize();

// Work area of the primary monitor (the first one when none is marked primary); empty without
// a display.
Rect PrimaryWorkArea();

}  // namespace os
