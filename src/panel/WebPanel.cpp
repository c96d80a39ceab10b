#include "panel/WebPanel.h"

#include "os/Screen.h"
#include "panel/ImageRegistry.h"
#include "panel/PanelRegion.h"

CWebPanel::CWebPanel(std::string name, std::string configFile, int autoDelete)
    : CDPanel<CWebPanel>(configFile), CHtmlPanel(std::move(name), autoDelete, configFile) {}

bool CWebPanel::OnInitPanel() {
    if (!CHtmlPanel::OnInitPanel()) return false;
    os::Window* window = Window();
    window->SetPaintHandler([this](os::PixelBuffer& canvas) { OnEraseBackground(canvas); });
    window->SetSizeHandler([this] { OnWebPanelSize(); });
    initialised_ = true;
    LoadConfig();
    window->QueueRedraw();
    return true;
}

void CWebPanel::ClosePanel() {
    if (os::Window* window = Window()) window->Destroy();
}

bool CWebPanel::PreTranslateMessage(const Message& msg) {
    os::Window* window = Window();
    if (window == nullptr || View() == nullptr || msg.window != window->Handle()) return false;
    if (msg.code != kMessageKeyDown && msg.code != kMessageKeyUp) return false;
    const os::Rect screen = window->ScreenRect();
    const int x = msg.pointX - screen.left;
    const int y = msg.pointY - screen.top;
    // The child under the message's point is the web view exactly when it is on the body band.
    const PanelRect& body = BodyRect();
    const bool overPage = x >= body.left && x < body.right && y >= body.top && y < body.bottom;
    // The host keeps track of held keys from every key event, offered or not, so that a key
    // released away from the page is not taken for held.
    const bool consumed = TranslatePanelMessage(KeyOfMessage(msg));
    return overPage && consumed;
}

void CWebPanel::SetPanelRgn(int cornerWidth, int cornerHeight) {
    os::Window* window = Window();
    if (window == nullptr) return;
    const os::Rect r = window->ScreenRect();
    std::vector<os::Rect> region;
    for (const PanelRect& span :
         RoundRectRegion(r.width(), r.height(), cornerWidth, cornerHeight)) {
        region.push_back({span.left, span.top, span.right, span.bottom});
    }
    window->SetWindowRegion(region);
}

void CWebPanel::OnWebPanelSize() {
    CalcLayout();
    SetPanelRgn(0, 0);
    // Before the web host's own set-up there is no view to place.
    if (!initialised_) return;
    if (os::Window* window = Window()) {
        // The skin's shape also clips the web view where it reaches a rounded corner.
        std::vector<os::Rect> shape;
        for (const PanelRect& span : SkinShape())
            shape.push_back({span.left, span.top, span.right, span.bottom});
        window->SetWindowRegion(shape);
        const PanelRect& head = HeadRect();
        const PanelRect& body = BodyRect();
        window->SetDragBand({head.left, head.top, head.right, head.bottom});
        if (os::WebView* view = View())
            view->SetBounds({body.left, body.top, body.right, body.bottom});
        window->QueueRedraw();
    }
}

std::string CWebPanel::GetPanelText() const {
    const os::Window* window = Window();
    return window != nullptr ? window->Title() : std::string();
}

void CWebPanel::SetPanelText(const std::string& text) {
    if (os::Window* window = Window()) window->SetTitle(text);
}

PanelSize CWebPanel::GetPanelWindowSize() const {
    const os::Window* window = Window();
    if (window == nullptr) return {};
    const os::Rect r = window->ScreenRect();
    return {r.width(), r.height()};
}

PanelRect CWebPanel::GetPanelClientRect() const {
    const os::Window* window = Window();
    if (window == nullptr) return {};
    const os::Size client = window->ClientSize();
    return {0, 0, client.width, client.height};
}

void CWebPanel::ResizePanelWindow(int width, int height) {
    os::Window* window = Window();
    if (window == nullptr) return;
    const os::Rect r = window->ScreenRect();
    window->MoveResize({r.left, r.top, r.left + width, r.top + height});
    // The window system confirms the size later (the size handler runs again then); lay out
    // for the requested size now, so the page never shows at the old size in the new window.
    OnWebPanelSize();
}

const os::PixelBuffer* CWebPanel::FindPanelImage(const std::string& key) {
    return GetImageRegistry().FindImage(key);
}
