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
    explicit CDPanel(std::string configFile) : configFile(std::move(configFile)) {}
    virtual ~CDPanel() = default;

    CDPanel(const CDPanel&) = delete;
    CDPanel& operator=(const CDPanel&) = delete;

    // Reads the description (from `newConfigFile` when given, which then replaces the path)
    // and sizes the window.
    void LoadConfig(std::optional<std::string> newConfigFile = std::nullopt) {
        T& self = Self();
        if (newConfigFile) configFile = std::move(*newConfigFile);
        const PanelDescription d = ReadPanelDescription(configFile, self.PanelName());
        if (!d.title.empty()) self.SetPanelText(d.title);
        bkImage = self.FindPanelImage(d.bkImage);
        headHeight = d.headHeight;
        footHeight = d.footHeight;
        innerBorder = d.innerBorder;
        outBorder = d.outBorder;
        bkMode = d.bkMode;
        const PanelSize size = PanelWindowSize(d, self.GetPanelWindowSize(), bkImage);
        self.ResizePanelWindow(size.width, size.height);
        CalcLayout();
    }

    void CalcLayout() {
        const PanelBands bands =
            CalcPanelBands(Self().GetPanelClientRect(), headHeight, footHeight, innerBorder);
        headRect = bands.head;
        bodyRect = bands.body;
        footRect = bands.foot;
    }

    // Paints over the window's canvas, which the caller fills with the window background.
    void PaintSkin(os::PixelBuffer& canvas) {
        SkinPaint skin;
        skin.bkImage = bkImage;
        if (canvas.scale > 1)
            skin.scaledImage = GetImageRegistry().ImageAtScale(bkImage, canvas.scale);
        skin.bkMode = bkMode;
        skin.outBorder = outBorder;
        skin.windowText = Self().GetPanelText();
        skin.headRect = headRect;
        ::PaintSkin(canvas, skin);
    }

    // The part of the window the skin covers (client coordinates): its transparent pixels are
    // left out, so no corner shows the window's background.
    std::vector<PanelRect> SkinShape() {
        const PanelRect client = Self().GetPanelClientRect();
        return SkinShapeRegion(bkImage, bkMode, client.Width(), client.Height());
    }

    // The mix-in's share of the window's messages.
    bool OnEraseBackground(os::PixelBuffer& canvas) {
        PaintSkin(canvas);
        return true;
    }
    void OnPanelSize() { CalcLayout(); }

    PanelRect headRect;
    PanelRect bodyRect;
    PanelRect footRect;
    int innerBorder = 0;
    int outBorder = 0;
    int headHeight = 50;
    int footHeight = 30;
    int bkMode = BKMODE_ALPHA;
    std::string configFile;
    const os::PixelBuffer* bkImage = nullptr;  // owned by the image registry

  private:
    T& Self() { return static_cast<T&>(*this); }
};
