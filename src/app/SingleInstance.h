#pragma once
#include <string>

#include "mainpanel/MainPanelHost.h"

// Name of the per-user lock that makes the program single-instance.
inline constexpr const char* kInstanceLockName = "maplenook_mutex_flag";

// A window handle as [app] wnd holds it: "%d" of the handle, so ids above 2^31 read back
// negative and name the same socket on both sides.
std::string WindowHandleText(long handle);

// What a second instance does: reads [app] wnd and asks that window's process to show its main
// panel. The answer is the exit code: 1 when it was handled, 0 for a stale or 0 handle.
int HandOverToFirstInstance(const std::string& settingsPath, const std::string& runtimeFolder);
