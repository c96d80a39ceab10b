#pragma once
#include <optional>

#include "os/Taskbar.h"

// The notification area's rectangle: the taskbar child "TrayNotifyWnd", else the taskbar up to
// the clock "TrayClockWClass", else the whole taskbar, whichever of the first two comes first
// among the descendants; none without a taskbar.
std::optional<os::Rect> FindTrayRectIn(const std::optional<os::TaskbarFacts>& taskbar);
