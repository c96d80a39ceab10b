#pragma once
#include <optional>
#include <string>
#include <vector>

#include "os/PixelBuffer.h"
#include "os/Rect.h"
#include "os/Window.h"
#include "panel/PanelDescription.h"
#include "panel/PanelLayout.h"
#include "panel/SkinPainter.h"

// The skin of a panel window: reads the panel's description from its settings file, sizes the
// window, keeps the head/body/foot bands and paints them. It works on the window it is
// attached to and does nothing without one.
class CDPanel {
  public:
    CDPanel(std::string panelName, std::string configFile);

    CDPanel(const CDPanel&) = delete;
    CDPanel& operator=(const CDPanel&) = delete;

    // The window the skin sizes and paints; null detaches. The window must outlive the skin
    // or be detached first.
    void Attach(os::Window* window) { window_ = window; }

    // Reads the description (from `newConfigFile` when given, which then replaces the path),
    // sizes the window and lays out the bands for that size.
    void LoadConfig(std::optional<std::string> newConfigFile = std::nullopt);
    // The bands for the window's client area now.
    void CalcLayout();

    // Paints over the window's canvas, which the caller fills with the window background.
    void PaintSkin(os::PixelBuffer& canvas) const;

    // The part of the window the skin covers (client coordinates): its transparent pixels are
    // left out, so no corner shows the window's background.
    std::vector<os::Rect> SkinShape() const;

    // The bands as laid out for the current client area, the skin image and how it is drawn,
    // and the settings file the description was read from.
    const os::Rect& HeadRect() const { return headRect_; }
    const os::Rect& BodyRect() const { return bodyRect_; }
    const os::Rect& FootRect() const { return footRect_; }
    const os::PixelBuffer* BkImage() const { return bkImage_; }
    int BkMode() const { return bkMode_; }
    const std::string& ConfigFile() const { return configFile_; }
    const std::string& PanelName() const { return panelName_; }

    // The window's text (its title; the skin paints it in the head band).
    std::string Title() const;
    void SetTitle(const std::string& text);
    PanelSize WindowSize() const;
    // The client area, origin (0, 0).
    os::Rect ClientRect() const;
    // New size, position kept.
    void ResizeWindow(int width, int height);

  private:
    std::string panelName_;
    std::string configFile_;
    os::Window* window_ = nullptr;
    os::Rect headRect_;
    os::Rect bodyRect_;
    os::Rect footRect_;
    int innerBorder_ = 0;
    int outBorder_ = 0;
    int headHeight_ = 50;
    int footHeight_ = 30;
    int bkMode_ = BKMODE_ALPHA;
    const os::PixelBuffer* bkImage_ = nullptr;  // owned by the image registry
};
