#include "mainpanel/AppPanel.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "BuildConfig.h"
#include "app/Settings.h"
#include "mainpanel/CompanionApp.h"
#include "mainpanel/MainPanelPlacement.h"
#include "mainpanel/PackageServices.h"
#include "mainpanel/UsageReport.h"
#include "os/Files.h"
#include "os/FolderDialog.h"
#include "os/GuiThread.h"
#include "os/Process.h"
#include "os/UsbArrivalMonitor.h"
#include "panel/ImageRegistry.h"
#include "phone/ModuleLib.h"
#include "sysutil/Autostart.h"

namespace {

// The maker's addresses; test builds let end-to-end tests point them at their own loopback
// server.
std::string MakerAddress(const char* testVariable, const std::string& built) {
#if MAPLENOOK_TEST_HOOKS
    if (const char* value = std::getenv(testVariable); value != nullptr && *value != '\0')
        return value;
#else
    (void)testVariable;
#endif
    return built;
}

std::string MainPageAddress() {
    return MakerAddress("MAPLENOOK_TEST_PAGE_URL", MAPLENOOK_PAGE_URL);
}

std::string UsageReportAddress() {
    return MakerAddress("MAPLENOOK_TEST_STATS_URL", MAPLENOOK_STATS_URL) + "/log?command=sign&";
}

}  // namespace

CAppPanel::CAppPanel(std::string name, std::string settings)
    : CWebPanel(std::move(name), std::move(settings), 0),
      alive_(std::make_shared<CAppPanel*>(this)) {
    workflow_ = std::make_shared<CBrushWorkflow>(PanelBrushServices());
    SetTrustedMainPage(MainPageAddress());
}

CAppPanel::~CAppPanel() {
    alive_.reset();
    usbMonitor_.reset();
    if (popPanel_ != nullptr) popPanel_->ClosePanel();
    OnTrayDestroy();
}

BrushServices CAppPanel::PanelBrushServices() {
    BrushServices services = RealPackageServices();
    std::weak_ptr<CAppPanel*> panel = alive_;
    services.notifyPage = [panel](const std::string& event, const std::string& data) {
        os::PostToGuiThread([panel, event, data] {
            if (auto alive = panel.lock()) (*alive)->NotifyPage(event, data);
        });
    };
    services.hideMainPanel = [panel] {
        os::PostToGuiThread([panel] {
            if (auto alive = panel.lock()) (*alive)->HideMainPanel();
        });
    };
    services.installCompanionApk = [](const std::string& apkPath) {
        InstallCompanionApk(RealCompanionServices(), apkPath);
    };
    return services;
}

// --- start-up's view ---

bool CAppPanel::Create() {
    if (!CreatePanel()) return false;
    // The icon goes in once the window is initialised, as after WM_INITDIALOG.
    OnTrayInitDialog();
    return true;
}

long CAppPanel::WindowHandle() const {
    const os::PanelWindow* window = Window();
    return window != nullptr ? window->Handle() : 0;
}

void CAppPanel::Hide() {
    HideMainPanel();
}

long CAppPanel::OnCopyData(unsigned long dwData) {
    // Any other request is ignored but still answered as handled.
    if (dwData == SHOW_PANEL_COPYDATA) ShowMainPanel();
    return 1;
}

// --- life ---

bool CAppPanel::OnInitPanel() {
    SetPanelText("MapleNook");
    LaunchUpdater(0);
    if (!CModuleLib::Instance().Init()) std::fprintf(stderr, "modulelib init error\n");
    CWebPanel::OnInitPanel();

    const std::string splashKey = ReadSettingString(settingsPath, "plash", "bkimage");
    if (GetImageRegistry().FindImage(splashKey) != nullptr) {
        splashPanel_ = std::make_unique<CPanelImpl>("plash", settingsPath);
        if (!splashPanel_->Create()) splashPanel_.reset();
    }

    defaultCommand = ID_SHOW_MAIN;
    PlaceOnScreen();

    pageUrl_ = MainPageUrlAt(MainPageAddress(), static_cast<int64_t>(std::time(nullptr)));
    NavigatePage(pageUrl_);

    cacheDir_ = ReadSettingString(settingsPath, "app", "cachedir");
    SendUsageReportTo(UsageReportAddress());

    // Device arrivals reach the panel as WM_DEVICECHANGE broadcasts do on Windows.
    std::weak_ptr<CAppPanel*> panel = alive_;
    usbMonitor_ = std::make_unique<os::UsbArrivalMonitor>([panel] {
        if (auto alive = panel.lock()) (*alive)->OnDeviceArrival();
    });
    return true;
}

void CAppPanel::PlaceOnScreen() {
    os::PanelWindow* window = Window();
    if (window == nullptr) return;
    const os::Size client = window->ClientSize();
    const os::Rect outer = window->ScreenRect();
    const os::ScreenSize screen = os::PrimaryScreenSize();
    const int x = ReadSettingInt(settingsPath, panelName, "x");
    const int y = ReadSettingInt(settingsPath, panelName, "y");
    const os::MonitorAreas areas =
        os::MonitorAreasAt(outer.left + outer.width() / 2, outer.top + outer.height() / 2);
    const PanelPlacement place = PlaceMainPanel(
        x, y, client.width, client.height, screen.width, screen.height,
        {areas.workArea.left, areas.workArea.top, areas.workArea.right, areas.workArea.bottom});
    window->MoveResize(
        {place.left, place.top, place.left + outer.width(), place.top + outer.height()});
    if (place.topmost) window->SetKeepAbove(true);
}

void CAppPanel::ClosePanel() {
    // The pop panel's window goes first; its gone handler clears the pointer.
    if (popPanel_ != nullptr) popPanel_->ClosePanel();
    splashPanel_.reset();
    usbMonitor_.reset();
    OnTrayDestroy();
    CWebPanel::ClosePanel();
    os::QuitGuiLoop(0);
}

void CAppPanel::ConfigureBrowser() {
    CWebPanel::ConfigureBrowser();
    browserSilent = true;
}

void CAppPanel::ShowMainPanel() {
    if (os::PanelWindow* window = Window()) window->Show();
}

// --- events and commands ---

bool CAppPanel::OnPanelEvent(PanelEvent& event) {
    switch (event.code) {
        case kEventDocumentComplete:
            // WebKit also finishes the load that failed (with no address, as nothing was
            // committed); only a page that loaded counts.
            if (event.url.empty() || (fellBack_ && event.url == pageUrl_)) return true;
            if (splashPanel_) splashPanel_->Hide();
            ShowMainPanel();
            return true;
        case kEventNavigateError:
            if (event.url == pageUrl_) {
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
            CWebPanel::OnPanelCommand(id);
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

int CAppPanel::HandleAppCommand(PageCommand& command) {
    return RunAppCommand(command, *this);
}

bool CAppPanel::OnDeviceArrival() {
    std::weak_ptr<CAppPanel*> panel = alive_;
    companionArrivals_.OnArrival(RealCompanionServices(), [this, panel] {
        workflow_->StartBrushTask(cacheDir_, kCompanionImageName, brushUrls_[kCompanionImageName],
                                  [panel](int) {
                                      os::PostToGuiThread([panel] {
                                          if (auto alive = panel.lock())
                                              (*alive)->companionArrivals_.TaskFinished();
                                      });
                                  });
    });
    return true;
}

// --- the command host ---

std::optional<std::string> CAppPanel::BrowseForCacheFolder() {
    return os::ChooseFolder("缓存目录");
}

bool CAppPanel::SetAutostartEntry(bool enable) {
    return SetAutostart(os::ExecutablePath(), "", "", "MapleNook", enable);
}

void CAppPanel::HideMainPanel() {
    if (os::PanelWindow* window = Window()) window->Hide();
}

void CAppPanel::MoveMainPanel(long dx, long dy) {
    os::PanelWindow* window = Window();
    if (window == nullptr) return;
    os::Rect r = window->ScreenRect();
    r.left += static_cast<int>(dx);
    r.right += static_cast<int>(dx);
    r.top += static_cast<int>(dy);
    r.bottom += static_cast<int>(dy);
    window->MoveResize(r);
}

void CAppPanel::PopPanel(const std::string& url) {
    if (popPanel_ == nullptr) {
        std::weak_ptr<CAppPanel*> panel = alive_;
        popPanel_ = new CPopPanel(settingsPath, [panel] {
            if (auto alive = panel.lock()) (*alive)->popPanel_ = nullptr;
        });
        if (!popPanel_->CreatePanel()) return;
    }
    if (!url.empty()) popPanel_->NavigatePage(url);
    popPanel_->ToggleSlide();
}

void CAppPanel::StartBrushTask(const std::string& fileName, const std::string& url) {
    workflow_->StartBrushTask(cacheDir_, fileName, url);
}

void CAppPanel::PrefetchIfStale(const std::string& fileName, const std::string& url,
                                const std::string& version) {
    ::PrefetchIfStale(*workflow_, settingsPath, ModuleDirectoryOfPanel(), cacheDir_, fileName, url,
                      version);
}
