#include "mainpanel/PackageDesk.h"

#include "base/Settings.h"
#include "mainpanel/CompanionServices.h"
#include "os/FolderDialog.h"
#include "os/GuiThread.h"
#include "os/UsbArrivalMonitor.h"
#include "package/PackageCache.h"
#include "package/PackageServices.h"

CPackageDesk::CPackageDesk(std::string settingsPath, PanelSide panel)
    : CPackageDesk(std::move(settingsPath), std::move(panel), RealPackageServices(),
                   RealCompanionSide()) {}

CPackageDesk::CPackageDesk(std::string settingsPath, PanelSide panel, BrushServices services,
                           std::function<CompanionServices()> companion)
    : settingsPath_(std::move(settingsPath)),
      moduleDirectory_(services.moduleDirectory),
      defaultCacheFolder_(services.defaultCacheFolder),
      companion_(std::move(companion)),
      queueTask_(services.queueTask),
      alive_(std::make_shared<CPackageDesk*>(this)) {
    services.notifyPage = std::move(panel.notifyPage);
    services.notifyOutside = std::move(panel.notifyOutside);
    named_ = std::move(panel.named);
    services.hideMainPanel = std::move(panel.hideMainPanel);
    // A page that asks what is cached ("app.hasapp") hears that a fetch ended, however it ended,
    // so that it can ask again (a prefetch reports nothing after its extraction starts). Other
    // pages keep getting only the notifications they always got.
    services.fetchEnded = [notify = services.notifyPage, asks = asksPresence_,
                           ended = std::move(panel.fetchEnded)](const std::string& base) {
        if (notify && asks->load()) notify("brushend", {base});
        if (ended) ended(base);
    };
    auto companionSide = companion_;
    services.afterStart =
        CompanionAfterStart(services.moduleDirectory, [companionSide](const std::string& apkPath) {
            InstallCompanionApk(companionSide(), apkPath);
        });
    workflow_ = std::make_shared<CBrushWorkflow>(std::move(services));
}

CPackageDesk::~CPackageDesk() {
    alive_.reset();
    usbMonitor_.reset();
    workflow_->RemoveRunningStaging();
}

void CPackageDesk::Start() {
    cacheSetting_ = ReadSettingString(settingsPath_, "app", "cachedir");
    cache_ = workflow_->ResolveCache(cacheSetting_);
    workflow_->StartSweep(cache_.folder);
    std::weak_ptr<CPackageDesk*> desk = alive_;
    usbMonitor_ = std::make_unique<os::UsbArrivalMonitor>([desk] {
        if (auto alive = desk.lock()) (*alive)->OnDeviceArrival();
    });
}

void CPackageDesk::Stop() {
    usbMonitor_.reset();
    stopped_ = true;
    // The process ends next: fetches still running cannot finish, so nothing of theirs stays.
    workflow_->RemoveRunningStaging();
}

void CPackageDesk::SetCacheDir(const std::string& folder) {
    cacheSetting_ = folder;
    cache_ = workflow_->ResolveCache(cacheSetting_);
    WriteSettingString(settingsPath_, "app", "cachedir", folder);
}

std::optional<std::string> CPackageDesk::BrowseForCacheFolder() {
    // Packages are downloaded and extracted there, so a folder that cannot be written is
    // refused when it is chosen, not when the first download fails.
    // The default folder may not exist before the first package: opened there all the same.
    if (cache_.setting == defaultCacheFolder_ && !defaultCacheFolder_.empty())
        MakeCacheFolder(defaultCacheFolder_);
    return os::ChooseFolder("缓存目录", CacheFolder(),
                            "无法写入这个文件夹，请选择其他文件夹作为缓存目录。",
                            [module = moduleDirectory_](const std::string& folder) {
                                return CacheFolderRefusalMessage(folder, module);
                            });
}

void CPackageDesk::StartBrushTask(const std::string& fileName, const std::string& url,
                                  const std::string& title) {
    brushUrls_[fileName] = url;
    if (!title.empty() && named_) named_(fileName, title);
    workflow_->StartBrushTask(cacheSetting_, fileName, url);
}

void CPackageDesk::PrefetchIfStale(const std::string& fileName, const std::string& url,
                                   const std::string& version) {
    ::PrefetchIfStale(*workflow_, settingsPath_, cacheSetting_, fileName, url, version);
}

bool CPackageDesk::OnDeviceArrival() {
    if (companionArrivals_.BeginPass()) StartArrivalPass();
    return true;
}

void CPackageDesk::StartArrivalPass() {
    // Reading the device tree and the process list takes milliseconds: it stays off the GUI
    // thread, which gets back only how many companion tasks to start.
    std::weak_ptr<CPackageDesk*> desk = alive_;
    queueTask_([desk, companion = companion_] {
        const int starts = ::OnDeviceArrival(companion(), [] {});
        os::PostToGuiThread([desk, starts] {
            if (auto alive = desk.lock()) (*alive)->FinishArrivalPass(starts);
        });
    });
}

void CPackageDesk::FinishArrivalPass(int starts) {
    if (stopped_) return;  // the program is quitting: nothing more starts
    if (companionArrivals_.EndPass(starts, [this] { StartCompanionTask(); })) StartArrivalPass();
}

void CPackageDesk::StartCompanionTask() {
    std::weak_ptr<CPackageDesk*> desk = alive_;
    workflow_->StartBrushTask(cacheSetting_, kCompanionImageName, brushUrls_[kCompanionImageName],
                              [desk](int) {
                                  os::PostToGuiThread([desk] {
                                      if (auto alive = desk.lock())
                                          (*alive)->companionArrivals_.TaskFinished();
                                  });
                              });
}
