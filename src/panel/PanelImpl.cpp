#include "panel/PanelImpl.h"

#include "panel/PanelRegion.h"

CPanelImpl::CPanelImpl(std::string name, std::string configFile)
    : skin_(std::move(name), std::move(configFile)) {}

CPanelImpl::~CPanelImpl() {
    Destroy();
}

bool CPanelImpl::Create() {
    if (IsWindow()) return true;
    window_ = os::CreateWindow();
    if (!window_ || !window_->IsAlive()) {
        window_.reset();
        return false;
    }
    skin_.Attach(window_.get());
    window_->SetSkipTaskbar(false);
    window_->SetPaintHandler([this](os::PixelBuffer& canvas) { skin_.PaintSkin(canvas); });
    window_->SetSizeHandler([this] {
        skin_.CalcLayout();
        window_->SetWindowRegion(skin_.SkinShape());
    });
    skin_.LoadConfig();
    CentreOnWorkArea();
    window_->Show();
    return true;
}

void CPanelImpl::CentreOnWorkArea() {
    const os::Rect r = window_->ScreenRect();
    const os::MonitorAreas areas =
        os::MonitorAreasAt(r.left + r.width() / 2, r.top + r.height() / 2);
    window_->MoveResize(CenterInWorkArea(r.width(), r.height(), areas.workArea));
}

void CPanelImpl::Show() {
    if (IsWindow()) window_->Show();
}

void CPanelImpl::Hide() {
    if (IsWindow()) window_->Hide();
}

void CPanelImpl::Destroy() {
    if (IsWindow()) window_->Destroy();
}
