#pragma once
#include <optional>
#include <string>
#include <vector>

#include "os/Screen.h"

namespace os {

struct TaskbarWindow {
    std::string className;
    Rect rect;
};

struct TaskbarFacts {
    Rect rect;                               // the taskbar window itself
    std::vector<TaskbarWindow> descendants;  // in enumeration order
};

// The desktop's taskbar ("Shell_TrayWnd") and its descendant windows; none where the desktop
// has no such window (every Linux desktop).
std::optional<TaskbarFacts> FindTaskbarWindows();

// The caption animation between two screen rectangles; returns when done, 0 when the desktop
// has none.
int AnimateCaption(Rect from, Rect to);

}  // namespace os
