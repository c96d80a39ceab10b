#include "panel/WebPanel.h"

#include "panel/PanelRegion.h"

CWebPanel::CWebPanel(std::string name, std::string configFile, int autoDelete, Role role)
    : CHtmlPanel(name, autoDelete, configFile, std::move(role)),
      skin_(std::move(name), std::move(configFile)) {}

CWebPanel::~CWebPanel() {
    // The window (the base's) may outlive the skin by the base's destructor.
    skin_.Attach(nullptr);
}

bool CWebPanel::OnInitPanel() {
    if (!CHtmlPanel::OnInitPanel()) return false;
    os::Window* window = Window();
    skin_.Attach(window);
    window->SetPaintHandler([this](os::PixelBuffer& canvas) { skin_.PaintSkin(canvas); });
    window->SetSizeHandler([this] { OnWebPanelSize(); });
    skin_.LoadConfig();
    // The window system confirms the new size later (the size handler runs again then); lay
    // out for the requested size now, so the page never shows at the old size in the new
    // window.
    OnWebPanelSize();
    window->QueueRedraw();
    return true;
}

bool CWebPanel::PreTranslateMessage(const Message& msg) {
    os::Window* window = Window();
    if (window == nullptr || View() == nullptr || msg.window != window->Handle()) return false;
    if (msg.code != kMessageKeyDown && msg.code != kMessageKeyUp) return false;
    const os::Rect screen = window->ScreenRect();
    const int x = msg.pointX - screen.left;
    const int y = msg.pointY - screen.top;
    // The child under the message's point is the web view exactly when it is on the body band.
    const bool overPage = skin_.BodyRect().Contains(x, y);
    // The host keeps track of held keys from every key event, offered or not, so that a key
    // released away from the page is not taken for held.
    const bool consumed = TranslatePanelMessage(KeyOfMessage(msg));
    return overPage && consumed;
}

void CWebPanel::OnWebPanelSize() {
    skin_.CalcLayout();
    os::Window* window = Window();
    if (window == nullptr) return;
    // The skin's shape also clips the web view where it reaches a rounded corner.
    window->SetWindowRegion(skin_.SkinShape());
    window->SetDragBand(skin_.HeadRect());
    if (os::WebView* view = View()) view->SetBounds(skin_.BodyRect());
    window->QueueRedraw();
}
