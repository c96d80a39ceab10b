#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "web/PageCommand.h"

namespace os {
class Window;
}

// What the common command set needs of the panel that received the call.
class CommonCommandTarget {
  public:
    virtual ~CommonCommandTarget() = default;
    // The panel window; null once it is gone (window commands then do nothing).
    virtual os::Window* CommandWindow() = 0;
    virtual std::string CommandModuleDirectory() const = 0;
    // "app.quit": the program ends when the panel is the main panel; other panels ignore it.
    virtual void QuitProgram() = 0;
    // "panel.close".
    virtual void ClosePanel() = 0;
    // "app.run": starts `file` with `args`, never through a shell; true when it started.
    // `shown` is the page's show state; Linux starts both ways detached with no terminal.
    virtual bool StartProgram(const std::string& file, const std::vector<std::string>& args,
                              bool shown) = 0;
};

// Win32 style bits that have a meaning for a Linux panel window.
constexpr uint32_t kStyleVisible = 0x10000000;       // WS_VISIBLE
constexpr uint32_t kStyleMinimized = 0x20000000;     // WS_MINIMIZE
constexpr uint32_t kStyleMaximized = 0x01000000;     // WS_MAXIMIZE
constexpr uint32_t kStylePopup = 0x80000000;         // WS_POPUP
constexpr uint32_t kExStyleTopmost = 0x00000008;     // WS_EX_TOPMOST
constexpr uint32_t kExStyleToolWindow = 0x00000080;  // WS_EX_TOOLWINDOW
// The style a panel starts with: a popup with the dialog font bits (DS_SETFONT | DS_FIXEDSYS).
constexpr uint32_t kPanelTemplateStyle = kStylePopup | 0x48;

// The common set of one panel: every panel's page may send these. It keeps the style words the
// page wrote: the bits with a Linux meaning follow the window, the others are kept as written.
class CommonCommands {
  public:
    explicit CommonCommands(CommonCommandTarget& target) : target_(target) {}

    // Runs the command of the set whose name equals `command.name` exactly. False when the set
    // has no command of that name (the result is then unchanged).
    bool Run(PageCommand& command);
    uint32_t StyleWord() const { return style_; }
    uint32_t ExStyleWord() const { return exStyle_; }

  private:
    CommonCommandTarget& target_;
    uint32_t style_ = kPanelTemplateStyle;
    uint32_t exStyle_ = 0;
};

// Whether the common set has a command of exactly this name.
bool IsCommonCommand(const std::string& name);

// Moves the window by (dx, dy), stopping its edges at the int range rather than wrapping them.
void MoveWindowBy(os::Window& window, long dx, long dy);

// The style words as the window is now: the stored words with the live bits replaced.
uint32_t CurrentStyle(uint32_t stored, const os::Window& window);
uint32_t CurrentExStyle(uint32_t stored, const os::Window& window);
