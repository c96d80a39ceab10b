#pragma once
#include <vector>

namespace os {

struct ScreenPoint {
    int x = 0;
    int y = 0;
    bool operator==(const ScreenPoint&) const = default;
};

// Screen coordinates; right and bottom exclusive.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const ScreenRect&) const = default;
};

struct MonitorInfo {
    ScreenRect monitor;
    ScreenRect work;  // without panels and docks
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
ScreenRect PrimaryWorkArea();

}  // namespace os
