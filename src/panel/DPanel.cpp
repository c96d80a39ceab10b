#include "panel/DPanel.h"

#include "panel/ImageRegistry.h"
#include "panel/PanelRegion.h"

CDPanel::CDPanel(std::string panelName, std::string configFile)
    : panelName_(std::move(panelName)), configFile_(std::move(configFile)) {}

void CDPanel::LoadConfig(std::optional<std::string> newConfigFile) {
    if (newConfigFile) configFile_ = std::move(*newConfigFile);
    const PanelDescription d = ReadPanelDescription(configFile_, panelName_);
    if (!d.title.empty()) SetTitle(d.title);
    bkImage_ = GetImageRegistry().FindImage(d.bkImage);
    headHeight_ = d.headHeight;
    footHeight_ = d.footHeight;
    innerBorder_ = d.innerBorder;
    outBorder_ = d.outBorder;
    bkMode_ = d.bkMode;
    const PanelSize size = PanelWindowSize(d, WindowSize(), bkImage_);
    ResizeWindow(size.width, size.height);
    CalcLayout();
}

void CDPanel::CalcLayout() {
    const PanelBands bands = CalcPanelBands(ClientRect(), headHeight_, footHeight_, innerBorder_);
    headRect_ = bands.head;
    bodyRect_ = bands.body;
    footRect_ = bands.foot;
}

void CDPanel::PaintSkin(os::PixelBuffer& canvas) const {
    SkinPaint skin;
    skin.bkImage = bkImage_;
    if (canvas.scale > 1)
        skin.scaledImage = GetImageRegistry().ImageAtScale(bkImage_, canvas.scale);
    skin.bkMode = bkMode_;
    skin.outBorder = outBorder_;
    skin.windowText = Title();
    skin.headRect = headRect_;
    ::PaintSkin(canvas, skin);
}

std::vector<os::Rect> CDPanel::SkinShape() const {
    const os::Rect client = ClientRect();
    return SkinShapeRegion(bkImage_, bkMode_, client.width(), client.height());
}

std::string CDPanel::Title() const {
    return window_ != nullptr ? window_->Title() : std::string();
}

void CDPanel::SetTitle(const std::string& text) {
    if (window_ != nullptr) window_->SetTitle(text);
}

PanelSize CDPanel::WindowSize() const {
    if (window_ == nullptr) return {};
    const os::Rect r = window_->ScreenRect();
    return {r.width(), r.height()};
}

os::Rect CDPanel::ClientRect() const {
    if (window_ == nullptr) return {};
    const os::Size client = window_->ClientSize();
    return {0, 0, client.width, client.height};
}

void CDPanel::ResizeWindow(int width, int height) {
    if (window_ == nullptr) return;
    const os::Rect r = window_->ScreenRect();
    window_->MoveResize({r.left, r.top, r.left + width, r.top + height});
}
