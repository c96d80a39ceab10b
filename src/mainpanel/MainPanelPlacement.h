#pragma once
#include <cstdint>
#include <string>

#include "os/Rect.h"

// Where the main panel goes when it starts: with [mainpanel] x or y set, its right edge x and
// its bottom edge y pixels from the screen's right and bottom edges, above other windows;
// otherwise centred in the work area of its monitor.
struct PanelPlacement {
    int left = 0;
    int top = 0;
    bool topmost = false;
};

PanelPlacement PlaceMainPanel(int x, int y, int width, int height, int screenWidth,
                              int screenHeight, const os::Rect& workArea);

namespace os {
class Window;
}

// Moves the main panel's window where PlaceMainPanel puts it on the primary screen and the work
// area of the monitor it is on, [<panel>] x and y read from the settings.
void PlaceMainPanelWindow(os::Window& window, const std::string& settingsPath,
                          const std::string& panelName);

// The address navigated at start: the main page with a query that defeats caches, made of the
// low 32 bits of `secondsSince1970` as a signed decimal number ("%s?t=%d").
std::string MainPageUrlAt(const std::string& mainPageUrl, int64_t secondsSince1970);
