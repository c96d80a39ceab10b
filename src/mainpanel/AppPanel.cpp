#include "mainpanel/AppPanel.h"

#include "web/PageAddress.h"

#include <ctime>

#include "base/Settings.h"
#include "mainpanel/MainPanelPlacement.h"
#include "mainpanel/MakerAddresses.h"
#include "mainpanel/UsageReport.h"
#include "os/DiagnosticLog.h"
#include "os/Files.h"
#include "os/GuiThread.h"
#include "os/Process.h"
#include "panel/ImageRegistry.h"
#include "phone/ModuleLib.h"
#include "sysutil/Autostart.h"
#include "web/CommonCommands.h"

CAppPanel::CAppPanel(std::string name, std::string settings)
    : CWebPanel(std::move(name), std::move(settings), 0),
      alive_(std::make_shared<CAppPanel*>(this)) {
    // Workers reach the panel only on the GUI thread, and only while it lives.
    auto onPanel = [panel =
                        std::weak_ptr<CAppPanel*>(alive_)](std::function<void(CAppPanel&)> act) {
        os::PostToGuiThread([panel, act] {
            if (auto alive = panel.lock()) act(**alive);
        });
    };
    CPackageDesk::PanelSide side;
    side.notifyPage = Bridge().MakeNotifier();
    side.hideMainPanel = [onPanel] { onPanel([](CAppPanel& self) { self.HideMainPanel(); }); };
    desk_ = std::make_unique<CPackageDesk>(SettingsPath(), std::move(side));
    SetTrustedMainPage(MainPageAddress());
}

CAppPanel::~CAppPanel() {
    alive_.reset();
    desk_.reset();
    if (popPanel_ != nullptr) popPanel_->ClosePanel();
    OnTrayDestroy();
}

// --- start-up's view ---

bool CAppPanel::Create() {
    if (!CreatePanel()) return false;
    // The icon goes in once the window exists: its menu commands go to this panel.
    OnTrayInitDialog();
    return true;
}

long CAppPanel::WindowHandle() const {
    const os::Window* window = Window();
    return window != nullptr ? window->Handle() : 0;
}

void CAppPanel::Hide() {
    // Start-up hides the panel before it was ever shown: no taskbar entry is needed yet.
    if (os::Window* window = Window()) window->Hide();
}

long CAppPanel::OnCopyData(unsigned long dwData, unsigned long userTime) {
    // Any other request is ignored but still answered as handled.
    if (dwData == SHOW_PANEL_COPYDATA) ShowMainPanel(userTime);
    return 1;
}

// --- life ---

bool CAppPanel::OnInitPanel() {
    SetPanelText("MapleNook");
    LaunchUpdater(0);
    if (!CModuleLib::Instance().Init())
        os::LogFailure("bridge tools not set up", "modulelib init error");
    CWebPanel::OnInitPanel();
    // A lost web process brings back the main page, or the local copy once the main page
    // failed or the process keeps ending.
    if (os::WebView* view = View()) {
        view->SetRecoveryHandler([this](bool givingUp) {
            return givingUp || fellBack_
                       ? ToFileUrl(ModuleDirectoryOfPanel() + "\\res\\web\\brush.html")
                       : pageUrl_;
        });
    }

    const std::string splashKey = ReadSettingString(SettingsPath(), "plash", "bkimage");
    if (GetImageRegistry().FindImage(splashKey) != nullptr) {
        splashPanel_ = std::make_unique<CPanelImpl>("plash", SettingsPath());
        if (!splashPanel_->Create()) splashPanel_.reset();
    }

    SetDefaultCommand(ID_SHOW_MAIN);
    if (os::Window* window = Window()) PlaceMainPanelWindow(*window, SettingsPath(), PanelName());

    pageUrl_ = MainPageUrlAt(MainPageAddress(), static_cast<int64_t>(std::time(nullptr)));
    NavigatePage(pageUrl_);

    desk_->Start();
    SendUsageReport();
    return true;
}

void CAppPanel::ClosePanel() {
    // The pop panel's window goes first; its gone handler clears the pointer.
    if (popPanel_ != nullptr) popPanel_->ClosePanel();
    splashPanel_.reset();
    desk_->Stop();
    OnTrayDestroy();
    CWebPanel::ClosePanel();
    os::QuitGuiLoop(0);
}

void CAppPanel::ShowMainPanel(unsigned long userTime) {
    if (os::Window* window = Window()) window->Present(userTime);
}

// --- events and commands ---

bool CAppPanel::OnPanelEvent(PanelEvent& event) {
    switch (event.code) {
        case kEventDocumentComplete:
            // WebKit also finishes the load that failed (with no address, as nothing was
            // committed); only a page that loaded counts.
            if (event.url.empty() || (fellBack_ && SameAddress(event.url, pageUrl_))) return true;
            if (splashPanel_) splashPanel_->Hide();
            ShowMainPanel();
            return true;
        case kEventNavigateError:
            if (SameAddress(event.url, pageUrl_)) {
                // The browser's own error page would only flash before the local copy.
                event.cancel = true;
                fellBack_ = true;
                NavigatePage(ToFileUrl(ModuleDirectoryOfPanel() + "\\res\\web\\brush.html"));
            }
            return true;
        case kEventNavigateComplete2:
            return true;
        case kUiShowContextMenu:
            event.answer = 0;
            return true;
        case kUiGetHostInfo:
            event.answer = kMainPanelHostFlags;
            return true;
        case kUiGetDropTarget:
            event.answer = 0;
            return true;
        default:
            return CWebPanel::OnPanelEvent(event);
    }
}

void CAppPanel::OnPanelCommand(int id) {
    switch (id) {
        case kCommandExit:
        case ID_APP_EXIT:
            ClosePanel();
            break;
        case kCommandCancel:
            HideMainPanel();
            break;
        case ID_SHOW_MAIN:
            ShowMainPanel();
            break;
        default:
            break;
    }
}

bool CAppPanel::TranslatePanelMessage(const os::KeyEvent& key) {
    constexpr unsigned kKeyEscape = 0xFF1B;
    if (key.keyval == kKeyEscape && !key.control && !key.alt && !key.shift) {
        if (key.pressed) OnPanelCommand(kCommandCancel);
        return true;
    }
    return CWebPanel::TranslatePanelMessage(key);
}

bool CAppPanel::OnCloseRequest() {
    OnPanelCommand(kCommandCancel);
    return true;
}

// --- the command host ---

bool CAppPanel::SetAutostartEntry(bool enable) {
    return SetAutostart(AutostartTarget(), "", "", "MapleNook", enable);
}

void CAppPanel::HideMainPanel() {
    os::Window* window = Window();
    if (window == nullptr) return;
    // Without a tray icon a hidden panel could only come back through a second start; the
    // taskbar keeps a minimised one in reach.
    if (TrayIconAdded()) {
        window->Hide();
    } else {
        window->Minimize();
    }
}

void CAppPanel::MoveMainPanel(long dx, long dy) {
    if (os::Window* window = Window()) MoveWindowBy(*window, dx, dy);
}

void CAppPanel::PopPanel(const std::string& url) {
    if (popPanel_ == nullptr) {
        std::weak_ptr<CAppPanel*> panel = alive_;
        popPanel_ = new CPopPanel(SettingsPath(), [panel] {
            if (auto alive = panel.lock()) (*alive)->popPanel_ = nullptr;
        });
        if (!popPanel_->CreatePanel()) return;
    }
    if (!url.empty()) popPanel_->NavigatePage(url);
    popPanel_->ToggleSlide();
}
