#pragma once
#include <optional>
#include <string>

#include "os/PixelBuffer.h"
#include "panel/ImageRegistry.h"
#include "panel/PanelDescription.h"
#include "panel/PanelLayout.h"
#include "panel/PanelRect.h"
#include "panel/PanelRegion.h"
#include "panel/SkinPainter.h"

// Skin mix-in of a panel window class T (CRTP). The window itself stays T's; the mix-in reads
// the panel's description, sizes the window, keeps the head/body/foot bands and paints.
//
// T supplies:
//   std::string PanelName() const;                  the cfg.ini section
//   std::string GetPanelText() const;               the window text
//   void SetPanelText(const std::string&);
//   PanelSize GetPanelWindowSize() const;
//   PanelRect GetPanelClientRect() const;           origin (0, 0)
//   void ResizePanelWindow(int width, int height);  position kept
//   const os::PixelBuffer* FindPanelImage(const std::string& key);  borrowed, or null
template <class T>
class CDPanel {
  public:
    explicit CDPanel(std::string configFile) : configFile_(std::move(configFile)) {}
    virtual ~CDPanel() = default;

    CDPanel(const CDPanel&) = delete;
    CDPanel& operator=(const CDPanel&) = delete;

    // Reads the description (from `newConfigFile` when given, which then replaces the path)
    // and sizes the window.
    void LoadConfig(std::optional<std::string> newConfigFile = std::nullopt) {
        T& self = Self();
        if (newConfigFile) configFile_ = std::move(*newConfigFile);
        const PanelDescription d = ReadPanelDescription(configFile_, self.PanelName());
        if (!d.title.empty()) self.SetPanelText(d.title);
        bkImage_ = self.FindPanelImage(d.bkImage);
        headHeight_ = d.headHeight;
        footHeight_ = d.footHeight;
        innerBorder_ = d.innerBorder;
        outBorder_ = d.outBorder;
        bkMode_ = d.bkMode;
        const PanelSize size = PanelWindowSize(d, self.GetPanelWindowSize(), bkImage_);
        self.ResizePanelWindow(size.width, size.height);
        CalcLayout();
    }

    void CalcLayout() {
        const PanelBands bands =
            CalcPanelBands(Self().GetPanelClientRect(), headHeight_, footHeight_, innerBorder_);
        headRect_ = bands.head;
        bodyRect_ = bands.body;
        footRect_ = bands.foot;
    }

    // Paints over the window's canvas, which the caller fills with the window background.
    void PaintSkin(os::PixelBuffer& canvas) {
        SkinPaint skin;
        skin.bkImage = bkImage_;
        if (canvas.scale > 1)
            skin.scaledImage = GetImageRegistry().ImageAtScale(bkImage_, canvas.scale);
        skin.bkMode = bkMode_;
        skin.outBorder = outBorder_;
        skin.windowText = Self().GetPanelText();
        skin.headRect = headRect_;
        ::PaintSkin(canvas, skin);
    }

    // The part of the window the skin covers (client coordinates): its transparent pixels are
    // left out, so no corner shows the window's background.
    std::vector<PanelRect> SkinShape() {
        const PanelRect client = Self().GetPanelClientRect();
        return SkinShapeRegion(bkImage_, bkMode_, client.Width(), client.Height());
    }

    // The mix-in's share of the window's messages.
    bool OnEraseBackground(os::PixelBuffer& canvas) {
        PaintSkin(canvas);
        return true;
    }
    void OnPanelSize() { CalcLayout(); }

    // The bands as laid out for the current client area, the skin image and how it is drawn,
    // and the settings file the description was read from.
    const PanelRect& HeadRect() const { return headRect_; }
    const PanelRect& BodyRect() const { return bodyRect_; }
    const PanelRect& FootRect() const { return footRect_; }
    const os::PixelBuffer* BkImage() const { return bkImage_; }
    int BkMode() const { return bkMode_; }
    const std::string& ConfigFile() const { return configFile_; }

  private:
    PanelRect headRect_;
    PanelRect bodyRect_;
    PanelRect footRect_;
    int innerBorder_ = 0;
    int outBorder_ = 0;
    int headHeight_ = 50;
    int footHeight_ = 30;
    int bkMode_ = BKMODE_ALPHA;
    std::string configFile_;
    const os::PixelBuffer* bkImage_ = nullptr;  // owned by the image registry

    T& Self() { return static_cast<T&>(*this); }
};
