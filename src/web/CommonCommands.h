#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "web/PageCommand.h"

namespace os {
class PanelWindow;
}

// What the common command set needs of the panel that received the call.
class CommonCommandTarget {
  public:
    virtual ~CommonCommandTarget() = default;
    // The panel window; null once it is gone (window commands then do nothing).
    virtual os::PanelWindow* CommandWindow() = 0;
    virtual std::string CommandModuleDirectory() const = 0;
    // "app.quit": the panel's command 1 (the main panel's exit command).
    virtual void OnPanelCommand(int id) = 0;
    // "panel.close".
    virtual void ClosePanel() = 0;
    // "app.run": starts `file` with `args`, never through a shell; true when it started.
    // `shown` is the Windows show state; Linux starts both ways detached with no terminal.
    virtual bool StartProgram(const std::string& file, const std::vector<std::string>& args,
                              bool shown) = 0;
    // The window's style words: the bits with a Linux meaning follow the window (see
    // WindowStyleBits.h); the others are kept as the page wrote them.
    virtual uint32_t& StyleWord() = 0;
    virtual uint32_t& ExStyleWord() = 0;
};

// Runs the first command of the common set whose name equals `command.name` exactly. False
// when no command of the set has that name (the result is then unchanged).
bool RunCommonCommand(PageCommand& command, CommonCommandTarget& target);
// Whether the common set has a command of exactly this name.
bool IsCommonCommand(const std::string& name);

// Moves the window by (dx, dy), stopping its edges at the int range rather than wrapping them.
void MoveWindowBy(os::PanelWindow& window, long dx, long dy);

// Win32 style bits that have a meaning for a Linux panel window.
constexpr uint32_t kStyleVisible = 0x10000000;       // WS_VISIBLE
constexpr uint32_t kStyleMinimized = 0x20000000;     // WS_MINIMIZE
constexpr uint32_t kStyleMaximized = 0x01000000;     // WS_MAXIMIZE
constexpr uint32_t kStylePopup = 0x80000000;         // WS_POPUP
constexpr uint32_t kExStyleTopmost = 0x00000008;     // WS_EX_TOPMOST
constexpr uint32_t kExStyleToolWindow = 0x00000080;  // WS_EX_TOOLWINDOW

// The style words as the window is now: the stored words with the live bits replaced.
uint32_t CurrentStyle(uint32_t stored, const os::PanelWindow& window);
uint32_t CurrentExStyle(uint32_t stored, const os::PanelWindow& window);
