#include "panel/PopPanel.h"

#include "os/Screen.h"

CPopPanel::CPopPanel(std::string settingsPath, std::function<void()> onGone)
    : CWebPanel("poppanel", std::move(settingsPath), 1), onGone_(std::move(onGone)) {}

bool CPopPanel::OnInitPanel() {
    // Without a working web host the panel is still placed and shown, with an empty body.
    CWebPanel::OnInitPanel();
    os::Window* window = Window();
    if (window == nullptr) return true;
    const os::Rect r = window->ScreenRect();
    const os::Size client = window->ClientSize();
    // The bottom-right corner of the primary monitor's work area, so no dock covers it.
    const os::Rect work = os::PrimaryWorkArea();
    const int x = work.right - client.width;
    const int y = work.bottom - client.height;
    window->MoveResize({x, y, x + r.width(), y + r.height()});
    window->SetKeepAbove(true);
    window->SetSkipTaskbar(true);
    return true;
}

void CPopPanel::OnFinalMessage() {
    // Tell the owner first: the base schedules the deletion.
    if (auto gone = std::move(onGone_)) gone();
    CWebPanel::OnFinalMessage();
}

bool CPopPanel::IsPanelVisible() const {
    const os::Window* window = Window();
    return window != nullptr && window->IsVisible();
}

void CPopPanel::HidePanel() {
    if (os::Window* window = Window()) window->Hide();
}

void CPopPanel::ShowPanelNormal() {
    if (os::Window* window = Window()) {
        window->Restore();
        window->Show();
    }
}

void CPopPanel::BringPanelToTop() {
    // Showing raises the window; keep-above keeps it over ordinary windows.
    if (os::Window* window = Window()) window->SetKeepAbove(true);
}

os::Rect CPopPanel::GetPanelScreenRect() const {
    const os::Window* window = Window();
    if (window == nullptr) return {};
    return window->ScreenRect();
}
