#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// Looks at windows on the X display named by $DISPLAY the way a user would see them; each
// call opens its own connection. Unknown windows give false or nothing, never an X error exit.

// True when the window and all its ancestors are mapped (it can be seen).
bool IsWindowViewable(unsigned long window);

// Top-level windows that process `pid` owns (by _NET_WM_PID) whose title (_NET_WM_NAME or
// WM_NAME) is `title`; any title when `title` is empty.
std::vector<unsigned long> FindWindowsOf(pid_t pid, const std::string& title = {});

// The window's title, or empty.
std::string WindowTitle(unsigned long window);

// The colour (0xRRGGBB) seen on the screen at (x, y) of the window, whatever covers it there or
// shows through; -1 when the window is unknown or the point is off the screen.
long ScreenPixelAt(unsigned long window, int x, int y);

// Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW).
bool RequestWindowClose(unsigned long window);

// Presses the left button at (x, y), moves the pointer to (toX, toY) in steps and releases it
// there, as a user's drag; false without a display or the XTest extension.
bool DragPointer(int x, int y, int toX, int toY);

// Owns the XEmbed tray selection of the default screen while it lives, so a program finds a
// tray host there. Icons it docks are drawn only once DockedIcon embeds them.
class TrayHostStandIn {
  public:
    TrayHostStandIn();
    ~TrayHostStandIn();
    TrayHostStandIn(const TrayHostStandIn&) = delete;
    TrayHostStandIn& operator=(const TrayHostStandIn&) = delete;
    bool Owning() const { return owning_; }
    // Handles the dock requests that came so far: the first icon is embedded in a 32 x 32
    // window at (x, y) of the screen. The icon's window once it is, else 0.
    unsigned long DockedIcon(int x, int y);

  private:
    void* display_ = nullptr;
    bool owning_ = false;
    unsigned long icon_ = 0;
};

}  // namespace testsupport
