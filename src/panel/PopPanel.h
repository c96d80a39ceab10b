#pragma once
#include <functional>
#include <string>

#include "panel/SlideBehavior.h"
#include "panel/WebPanel.h"

// The second web panel ("poppanel"): bottom-right of the primary screen, above other windows,
// no taskbar entry, shown and hidden by ToggleSlide. It deletes itself after its window's last
// message; the owner learns of that through the gone handler and must drop its pointer there.
class CPopPanel : public CWebPanel, public CSlideBehavior<CPopPanel> {
  public:
    // `onGone` runs once, when the window is gone and before the object is deleted (on the
    // next turn of the GUI loop); the owner forgets the panel in it.
    explicit CPopPanel(std::string settingsPath, std::function<void()> onGone = {});

    bool OnInitPanel() override;
    void OnFinalMessage() override;

    // What the slide needs of the window.
    bool IsPanelVisible() const;
    void HidePanel();
    void ShowPanelNormal();
    void BringPanelToTop();
    os::Rect GetPanelScreenRect() const;

    // A panel whose window exists deletes itself; delete it yourself only when CreatePanel
    // failed (no window, so no last message).
    ~CPopPanel() override = default;

  private:
    std::function<void()> onGone_;
};
