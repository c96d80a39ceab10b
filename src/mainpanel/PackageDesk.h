#pragma once
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mainpanel/AppCommands.h"
#include "mainpanel/CompanionApp.h"
#include "package/BrushWorkflow.h"

namespace os {
class UsbArrivalMonitor;
}

// The package and phone side of the main panel: the cache folder, the download address each
// package was last run with, the package workflow, the companion program's arrival rules, the
// USB arrival monitor and the version prefetch. The window, the tray and the page stay with the
// panel, which hands in the two things the packages need of it. The page's package commands
// come here straight from the command table. GUI thread only.
class CPackageDesk : public PackageCommandTarget {
  public:
    // What the desk needs of the panel; each may be called on any thread.
    struct PanelSide {
        std::function<void(const std::string& event, const std::vector<std::string>& args)>
            notifyPage;
        // BrushServices::notifyOutside.
        std::function<void(const std::string& event, const std::vector<std::string>& args)>
            notifyOutside;
        // The page named package `fileName` `title` when it ran it (GUI thread, at once).
        std::function<void(const std::string& fileName, const std::string& title)> named;
        std::function<void()> hideMainPanel;
        // A package's download and extraction ended (BrushServices::fetchEnded).
        std::function<void(const std::string& base)> fetchEnded;
    };

    // The real services: libcurl, minizip, the desktop's launcher, the phone detector.
    CPackageDesk(std::string settingsPath, PanelSide panel);
    // Given services (tests); `companion` makes the phone side for each pass over the phones
    // (an arrival's, an install's), on the worker that runs it; arrival passes go to
    // `services.queueTask`.
    CPackageDesk(std::string settingsPath, PanelSide panel, BrushServices services,
                 std::function<CompanionServices()> companion);
    ~CPackageDesk() override;
    CPackageDesk(const CPackageDesk&) = delete;
    CPackageDesk& operator=(const CPackageDesk&) = delete;

    // Reads the cache folder from the settings, clears what earlier runs left in it, and starts
    // watching USB arrivals.
    void Start();
    // Stops watching USB arrivals and removes the staging files of running fetches (the
    // program is quitting); tasks already queued run on.
    void Stop();

    // The cache setting in use: as the settings store it ([app] cachedir) when it may serve,
    // else the per-user default (DefaultCacheFolder).
    const std::string& CacheDir() const override { return cache_.setting; }
    // The folder packages go to now: the setting resolved, or the default; "/" at the end.
    const std::string& CacheFolder() const { return cache_.folder; }
    // Takes `folder` as the cache folder from now on and stores it in the settings.
    void SetCacheDir(const std::string& folder) override;
    // The folder chooser, opened at the folder packages go to now; it refuses folders that
    // may not serve as a cache, saying why.
    std::optional<std::string> BrowseForCacheFolder() override;

    // Remembers `url` as the package's address, hands a non-empty `title` on (PanelSide::named)
    // and runs the package on a worker.
    void StartBrushTask(const std::string& fileName, const std::string& url,
                        const std::string& title) override;
    // "app.checkapp": fetches the package ahead of use when missing or of another version.
    void PrefetchIfStale(const std::string& fileName, const std::string& url,
                         const std::string& version) override;
    // The page's opt-ins: progress notifications (and, from then on, failure causes), and
    // cancelling a package's running fetch.
    void SetPageProgress(bool on) override { workflow_->SetPageProgress(on); }
    void CancelBrush(const std::string& fileName) override { workflow_->CancelBrush(fileName); }
    bool HasPackage(const std::string& fileName) const override {
        asksPresence_->store(true);
        return workflow_->ProgramPresent(cacheSetting_, fileName);
    }
    // Any device arrival: runs the companion program for attached phones when it is not
    // running, from the address it was last run with. The phones are read on a worker, one
    // pass at a time (a burst of arrivals folds into one more pass); only the decision comes
    // back here. Always true.
    bool OnDeviceArrival();

  private:
    void StartArrivalPass();
    void FinishArrivalPass(int starts);
    void StartCompanionTask();

    std::string settingsPath_;
    std::string moduleDirectory_;
    std::string cacheSetting_;  // [app] cachedir as stored
    ResolvedCache cache_;       // what it comes to
    std::string defaultCacheFolder_;
    std::map<std::string, std::string> brushUrls_;  // package file name -> address; never shrinks
    std::function<CompanionServices()> companion_;
    std::function<void(std::function<void()>)> queueTask_;
    std::function<void(const std::string&, const std::string&)> named_;
    bool stopped_ = false;
    // Set once the page asked what is cached; read by the fetch-ended notice on workers.
    std::shared_ptr<std::atomic<bool>> asksPresence_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<CBrushWorkflow> workflow_;
    CCompanionArrivals companionArrivals_;
    std::unique_ptr<os::UsbArrivalMonitor> usbMonitor_;
    // Workers reach the desk only through closures posted to the GUI thread that check this
    // token there, so nothing touches the desk after it is gone.
    std::shared_ptr<CPackageDesk*> alive_;
};
