#pragma once
#include <optional>
#include <string>
#include <vector>

#include "os/Screen.h"
#include "os/Tray.h"

inline constexpr unsigned TRAY_ICON_ID = 1999;
// The message code the icon's record carries for its mouse reports.
inline constexpr unsigned WM_TRAYNOTIFY = 0x0400 + 2001;
inline constexpr int ID_SHOW_MAIN = 2001;
inline constexpr int ID_APP_EXIT = 2003;
inline constexpr int IDI_PROGRAM_ICON = 128;

// A popup of the program's menu resources.
struct TrayMenu {
    std::string name;
    std::vector<os::TrayMenuItem> items;
};

// Menu resource `id`: 1999 is the popup "MAIN_POP" with "显示主面板" (2001) and "退出" (2003).
std::optional<TrayMenu> LoadTrayMenu(unsigned id);

// Marks the default item: by position when `byPosition`, else the item with that command.
// Nothing is marked when no item matches.
void SetMenuDefaultItem(TrayMenu& menu, int item, bool byPosition);

// Where the tray menu opens: a cursor on no monitor has its x moved into the horizontal range
// of the nearest monitor's work area; y stays.
os::ScreenPoint ClampToNearestWorkArea(os::ScreenPoint cursor,
                                       const std::vector<os::MonitorInfo>& monitors);

// Module-relative path of icon resource `id` ("\res\skin\icon.png" for 128); empty if unknown.
std::string IconResourcePath(int id);
