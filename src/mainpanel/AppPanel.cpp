#include "mainpanel/AppPanel.h"

#include "web/PageAddress.h"

#include <ctime>
#include <utility>

#include "base/LoopbackOwner.h"
#include "base/Settings.h"
#include "base/WorkerPool.h"
#include "mainpanel/MainPanelPlacement.h"
#include "mainpanel/MakerAddresses.h"
#include "mainpanel/UsageReport.h"
#include "os/DesktopNotifier.h"
#include "os/DiagnosticLog.h"
#include "os/Dialogs.h"
#include "os/Files.h"
#include "os/GuiThread.h"
#include "os/Process.h"
#include "panel/ImageRegistry.h"
#include "phone/ModuleLib.h"
#include "sysutil/Autostart.h"
#include "web/CommonCommands.h"

namespace {

// The window's text when the panel's description names no title.
constexpr const char* kDefaultTitle = "MapleNook";

}  // namespace

CAppPanel::CAppPanel(std::string name, std::string settings)
    : panel_(
          std::move(name), std::move(settings), 0,
          {.commands =
               [this](PageCommand& command) { return RunAppCommand(command, *this, *desk_) != 0; },
           .events = [this](PanelEvent& event) { return OnPanelEvent(event); },
           .keys = [this](const os::KeyEvent& key) { return OnKey(key); },
           .quit = [this] { OnPanelCommand(kCommandExit); },
           .close = [this] { ClosePanel(); },
           // The close button hides the panel, as Escape does: the program lives on in
           // the tray.
           .closeRequest =
               [this] {
                   OnPanelCommand(kCommandCancel);
                   return true;
               }}),
      tray_([this](int command) { OnPanelCommand(command); }),
      alive_(std::make_shared<CAppPanel*>(this)) {
    // Workers reach the panel only on the GUI thread, and only while it lives.
    auto onPanel = [panel =
                        std::weak_ptr<CAppPanel*>(alive_)](std::function<void(CAppPanel&)> act) {
        os::PostToGuiThread([panel, act] {
            if (auto alive = panel.lock()) act(**alive);
        });
    };
    CPackageDesk::PanelSide side;
    // The page hears of packages as it always did; the tray's tooltip and the desktop's
    // notifications hear the same, with the causes, in the same order, for when the panel is
    // out of sight.
    side.notifyPage = panel_.Bridge().MakeNotifier();
    side.notifyOutside = [onPanel](const std::string& event, const std::vector<std::string>& args) {
        onPanel([event, args](CAppPanel& self) { self.OnPackageNotice(event, args); });
    };
    side.named = [this](const std::string& fileName, const std::string& title) {
        notices_.Name(fileName, title);
    };
    side.hideMainPanel = [onPanel] { onPanel([](CAppPanel& self) { self.HideMainPanel(); }); };
    side.fetchEnded = [onPanel](const std::string& base) {
        onPanel([base](CAppPanel& self) { self.OnPackageFetchEnded(base); });
    };
    desk_ = std::make_unique<CPackageDesk>(panel_.SettingsPath(), std::move(side));
    panel_.SetTrustedMainPage(MainPageAddress());
    tray_.SetHostHandler([this](bool shown) { OnTrayHost(shown); });
}

CAppPanel::~CAppPanel() {
    alive_.reset();
    desk_.reset();
    if (popPanel_ != nullptr) popPanel_->ClosePanel();
    tray_.RemoveTrayIcon();
}

// --- start-up's view ---

bool CAppPanel::Create() {
    // A web host that cannot be set up leaves the window without its page; the panel goes on
    // (and the tray icon still brings it back).
    panel_.CreatePanel();
    if (!panel_.HasWindow()) return false;
    InitPanel();
    tray_.AddProgramIcon();
    return true;
}

long CAppPanel::WindowHandle() const {
    const os::Window* window = panel_.Window();
    return window != nullptr ? window->Handle() : 0;
}

void CAppPanel::Hide() {
    // Start-up hides the panel before it was ever shown: no taskbar entry is needed yet.
    if (os::Window* window = panel_.Window()) window->Hide();
}

long CAppPanel::OnCopyData(unsigned long dwData, unsigned long userTime) {
    // Any other request is ignored but still answered as handled.
    if (dwData == SHOW_PANEL_COPYDATA) ShowMainPanel(userTime);
    return 1;
}

// --- life ---

void CAppPanel::InitPanel() {
    // The window starts without a title; the description's, when it has one, is kept.
    if (os::Window* window = panel_.Window(); window->Title().empty())
        window->SetTitle(kDefaultTitle);
    LaunchUpdater(0);
    if (!CModuleLib::Instance().Init())
        os::LogFailure("bridge tools not set up", "modulelib init error");
    // A lost web process brings back the main page, or the local copy once the main page
    // failed or the process keeps ending.
    if (os::WebView* view = panel_.View()) {
        // The reload is checked as any navigation is; a main page another user now serves
        // is not even tried.
        view->SetRecoveryHandler([this](bool givingUp) {
            return givingUp || fellBack_ || !AddressMayBeUsed(pageUrl_) ? LocalPageUrl() : pageUrl_;
        });
    }

    const std::string& settings = panel_.SettingsPath();
    const std::string splashKey = ReadSettingString(settings, "plash", "bkimage");
    if (GetImageRegistry().FindImage(splashKey) != nullptr) {
        splashPanel_ = std::make_unique<CPanelImpl>("plash", settings);
        if (!splashPanel_->Create()) splashPanel_.reset();
    }

    tray_.SetDefaultCommand(ID_SHOW_MAIN);
    if (os::Window* window = panel_.Window())
        PlaceMainPanelWindow(*window, settings, panel_.PanelName());

    pageUrl_ = MainPageUrlAt(MainPageAddress(), static_cast<int64_t>(std::time(nullptr)));
    // A loopback main page that no program of this user serves could only fail, or be another
    // user's: the local page comes at once rather than after a failed load, and it still moves
    // to the main page once that answers.
    if (AddressMayBeUsed(pageUrl_)) {
        panel_.NavigatePage(pageUrl_);
    } else {
        if (AnotherUserServes(pageUrl_)) {
            os::LogWarning("main page not loaded: another user serves its loopback address",
                           pageUrl_);
            fallBackCause_ = "refused";
        }
        FallBackToLocalPage();
    }

    desk_->Start();
    SendUsageReport();
}

void CAppPanel::ClosePanel() {
    // First: a dialog's caller sees the quit as it unwinds and asks for nothing more.
    os::QuitGuiLoop(0);
    if (os::CloseModalDialogs()) {
        // Their callers (a page's command among them) are still on the stack: the window and
        // its page go with the panel once the loop has ended.
        desk_->Stop();
        tray_.RemoveTrayIcon();
        if (os::Window* window = panel_.Window()) window->Hide();
        return;
    }
    notifier_.reset();
    // The pop panel's window goes first; its gone handler clears the pointer.
    if (popPanel_ != nullptr) popPanel_->ClosePanel();
    splashPanel_.reset();
    desk_->Stop();
    tray_.RemoveTrayIcon();
    panel_.DestroyWindow();
}

std::string CAppPanel::LocalPageUrl() {
    return panel_.ToFileUrl(panel_.ModuleDirectoryOfPanel() + "\\res\\web\\brush.html");
}

void CAppPanel::FallBackToLocalPage() {
    fellBack_ = true;
    panel_.NavigatePage(LocalPageUrl());
}

void CAppPanel::ShowMainPanel(unsigned long userTime) {
    if (os::Window* window = panel_.Window()) window->Present(userTime);
}

// --- events and commands ---

bool CAppPanel::OnPanelEvent(PanelEvent& event) {
    switch (event.code) {
        case kEventDocumentComplete:
            // WebKit also finishes the load that failed (with no address, as nothing was
            // committed); only a page that loaded counts.
            if (event.url.empty() || (fellBack_ && SameAddress(event.url, pageUrl_))) return true;
            if (fellBack_ && !fallBackCause_.empty() && SameAddress(event.url, LocalPageUrl())) {
                panel_.Bridge().Notify("mainpage", fallBackCause_);
                fallBackCause_.clear();
            }
            // A main page the browser will not load at all (a port it never uses, such as 9 or
            // 25) is replaced by an empty page without a failure: that too is a failed page.
            if (!fellBack_ && event.url == "about:blank" && pageUrl_ != event.url) {
                FallBackToLocalPage();
                return true;
            }
            // Only the start-up's page brings the panel up: a later load (a reload after the
            // web process ended, the local page reaching the maker's again) leaves a panel the
            // user hid where it is.
            if (pageShown_) return true;
            pageShown_ = true;
            if (splashPanel_) splashPanel_->Hide();
            ShowMainPanel();
            return true;
        case kEventNavigateError:
            if (SameAddress(event.url, pageUrl_)) {
                // The browser's own error page would only flash before the local copy.
                event.cancel = true;
                FallBackToLocalPage();
            }
            return true;
        case kEventNavigateComplete2:
            return true;
        case kEventBeforeNavigate2:
            // The bridge refused the main page (another user serves its port): the local
            // page comes, after this navigation has been turned down.
            if (event.refusedByOwner && event.topFrame && !fellBack_ &&
                SameAddress(event.url, pageUrl_)) {
                fallBackCause_ = "refused";
                fellBack_ = true;
                std::weak_ptr<CAppPanel*> panel = alive_;
                os::PostToGuiThread([panel] {
                    if (auto alive = panel.lock()) (*alive)->FallBackToLocalPage();
                });
            }
            return false;
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
            return false;
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

bool CAppPanel::OnKey(const os::KeyEvent& key) {
    if (key.key != os::Key::Escape || key.modifiers != os::kModifierNone) return false;
    if (key.pressed) OnPanelCommand(kCommandCancel);
    return true;
}

// --- the command host ---

bool CAppPanel::SetAutostartEntry(bool enable) {
    // The tray's icon: the session's settings list the entry with the icon users know.
    return SetAutostart(
        AutostartTarget(), "", "", "MapleNook", enable,
        JoinModulePath(panel_.ModuleDirectoryOfPanel(), IconResourcePath(IDI_PROGRAM_ICON)));
}

void CAppPanel::HideMainPanel() {
    os::Window* window = panel_.Window();
    if (window == nullptr) return;
    // Without a tray icon a hidden panel could only come back through a second start; the
    // taskbar keeps a minimised one in reach.
    if (tray_.TrayIconAdded()) {
        window->Hide();
    } else {
        window->Minimize();
    }
}

void CAppPanel::OnTrayHost(bool shown) {
    if (shown) return;
    // The tray that would have brought a hidden panel back is gone: the taskbar keeps it in
    // reach instead.
    os::Window* window = panel_.Window();
    if (window == nullptr || window->IsVisible()) return;
    window->Minimize();
    window->Show();
}

void CAppPanel::OnPackageNotice(const std::string& event, const std::vector<std::string>& args) {
    const auto notice = notices_.Take(event, args);
    tray_.SetTooltip(notices_.Tooltip());
    if (!notice) return;
    if (notice->failed)
        os::LogWarning(notice->title, notice->body);
    else
        os::LogDebug(notice->title, notice->body);
    // The page shows it while the panel is in view.
    os::Window* window = panel_.Window();
    if (window == nullptr) return;
    if (!notice->evenInView && window->IsVisible() && !window->IsMinimized()) return;
    if (!notifier_) notifier_ = os::MakeDesktopNotifier();
    std::weak_ptr<CAppPanel*> panel = alive_;
    notifier_->Show(notice->title, notice->body, [panel] {
        if (auto alive = panel.lock()) (*alive)->ShowMainPanel();
    });
}

void CAppPanel::OnPackageFetchEnded(const std::string& base) {
    notices_.End(base);
    tray_.SetTooltip(notices_.Tooltip());
}

void CAppPanel::MoveMainPanel(long dx, long dy) {
    if (os::Window* window = panel_.Window()) MoveWindowBy(*window, dx, dy);
}

void CAppPanel::RetryMainPage() {
    if (probing_) return;  // its answer comes
    probing_ = true;
    const std::string url =
        MainPageUrlAt(MainPageAddress(), static_cast<int64_t>(std::time(nullptr)));
    std::weak_ptr<CAppPanel*> panel = alive_;
    QueueWorkerTask([panel, url] {
        const ProbeOutcome outcome = ProbeAddress(url);
        os::PostToGuiThread([panel, url, outcome] {
            if (auto alive = panel.lock()) (*alive)->OnMainPageProbed(url, outcome);
        });
    });
}

void CAppPanel::OnMainPageProbed(const std::string& url, ProbeOutcome outcome) {
    probing_ = false;
    if (outcome == ProbeOutcome::Refused)
        os::LogWarning("main page not tried: another user serves its loopback address", url);
    panel_.Bridge().Notify("mainpage", ProbeOutcomeName(outcome));
    if (outcome != ProbeOutcome::Answered) return;
    // Loaded as at start: a failure brings the local page back.
    pageUrl_ = url;
    fellBack_ = false;
    panel_.NavigatePage(pageUrl_);
}

void CAppPanel::PopPanel(const std::string& url) {
    if (popPanel_ == nullptr) {
        std::weak_ptr<CAppPanel*> panel = alive_;
        const unsigned made = ++popPanelsMade_;
        popPanel_ = new CPopPanel(panel_.SettingsPath(), [panel, made] {
            // Only this panel's own pointer: a later one may be up already.
            if (auto alive = panel.lock(); alive && (*alive)->popPanelsMade_ == made)
                (*alive)->popPanel_ = nullptr;
        });
        if (!popPanel_->CreatePanel()) {
            // A window made before the failure goes the usual way; without one nothing else
            // deletes the panel. The next panel.pop tries again.
            os::LogWarning("pop panel not created", "its window or page could not be set up");
            CPopPanel* failed = std::exchange(popPanel_, nullptr);
            if (failed->HasWindow()) {
                failed->ClosePanel();
            } else {
                delete failed;
            }
            return;
        }
    }
    if (!url.empty()) popPanel_->NavigatePage(url);
    popPanel_->ToggleSlide();
}
