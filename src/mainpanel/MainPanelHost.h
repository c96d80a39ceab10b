#pragma once
#include <memory>
#include <string>

// What the hand-over request of a second instance asks of the main panel (OnCopyData): show it.
inline constexpr unsigned long SHOW_PANEL_COPYDATA = 1;

// What start-up needs of the main panel, and nothing more: construct, create (which runs the
// panel's own initialisation before it returns), read its window handle, hide, destroy.
class IMainPanel {
  public:
    virtual ~IMainPanel() = default;
    // Creates the window with no parent; false when it cannot be created.
    virtual bool Create() = 0;
    // The window's handle as a second instance finds it in [app] wnd (the window system's id).
    virtual long WindowHandle() const = 0;
    virtual void Hide() = 0;
    // The hand-over request of a second instance (dwData 1 shows the panel, brought forward
    // with the X server time `userTime` of the user's start, 0 when unknown); the answer.
    virtual long OnCopyData(unsigned long dwData, unsigned long userTime) = 0;
};

// The program's main panel for `panelName` ("mainpanel"), keeping `settingsPath` for its reads.
std::unique_ptr<IMainPanel> MakeMainPanel(const std::string& panelName,
                                          const std::string& settingsPath);
