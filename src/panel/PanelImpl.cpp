#include "panel/PanelImpl.h"

#include "panel/ImageRegistry.h"
#include "panel/PanelRegion.h"

CPanelImpl::CPanelImpl(std::string name, std::string configFile)
    : CDPanel<CPanelImpl>(std::move(configFile)), panelName_(std::move(name)) {}

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
    window_->SetSkipTaskbar(false);
    window_->SetPaintHandler([this](os::PixelBuffer& canvas) { OnEraseBackground(canvas); });
    window_->SetSizeHandler([this] {
        OnPanelSize();
        std::vector<os::Rect> shape;
        for (const PanelRect& span : SkinShape())
            shape.push_back({span.left, span.top, span.right, span.bottom});
        window_->SetWindowRegion(shape);
    });
    OnInitPanel();
    window_->Show();
    return true;
}

bool CPanelImpl::OnInitPanel() {
    LoadConfig();
    const os::Rect r = window_->ScreenRect();
    const os::MonitorAreas areas =
        os::MonitorAreasAt(r.left + r.width() / 2, r.top + r.height() / 2);
    const os::Rect& work = areas.workArea;
    const PanelRect centred =
        CenterInWorkArea(r.width(), r.height(), {work.left, work.top, work.right, work.bottom});
    window_->MoveResize({centred.left, centred.top, centred.right, centred.bottom});
    return true;
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

std::string CPanelImpl::GetPanelText() const {
    return window_ ? window_->Title() : std::string();
}

void CPanelImpl::SetPanelText(const std::string& text) {
    if (window_) window_->SetTitle(text);
}

PanelSize CPanelImpl::GetPanelWindowSize() const {
    if (!window_) return {};
    const os::Rect r = window_->ScreenRect();
    return {r.width(), r.height()};
}

PanelRect CPanelImpl::GetPanelClientRect() const {
    if (!window_) return {};
    const os::Size client = window_->ClientSize();
    return {0, 0, client.width, client.height};
}

void CPanelImpl::ResizePanelWindow(int width, int height) {
    if (!window_) return;
    const os::Rect r = window_->ScreenRect();
    window_->MoveResize({r.left, r.top, r.left + width, r.top + height});
}

const os::PixelBuffer* CPanelImpl::FindPanelImage(const std::string& key) {
    return GetImageRegistry().FindImage(key);
}
