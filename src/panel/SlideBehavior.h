#pragma once
#include <optional>

#include "os/Taskbar.h"
#include "panel/TrayAnchor.h"

// Shows and hides a panel with the caption animation to and from the notification area (CRTP).
//
// T supplies:
//   bool IsPanelVisible() const;
//   void HidePanel();
//   void ShowPanelNormal();
//   void BringPanelToTop();
//   os::Rect GetPanelScreenRect() const;  also while hidden
template <class T>
class CSlideBehavior {
  public:
    virtual ~CSlideBehavior() = default;

    void ToggleSlide() {
        T& self = static_cast<T&>(*this);
        if (self.IsPanelVisible()) {
            self.HidePanel();
            AnimateTray(true);
        } else {
            AnimateTray(false);
            self.BringPanelToTop();
            self.ShowPanelNormal();
        }
    }

    // One caption animation between the panel and the tray; 0 when there is no taskbar.
    int AnimateTray(bool closing) {
        const auto tray = FindTrayRect();
        if (!tray) return 0;
        const os::Rect panel = static_cast<T&>(*this).GetPanelScreenRect();
        return closing ? os::AnimateCaption(panel, *tray) : os::AnimateCaption(*tray, panel);
    }

    std::optional<os::Rect> FindTrayRect() { return FindTrayRectIn(os::FindTaskbarWindows()); }
};
