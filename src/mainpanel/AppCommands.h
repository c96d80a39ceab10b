#pragma once
#include <optional>
#include <string>
#include <vector>

#include "web/PageCommand.h"

// What the main panel's window-side page commands act on. CAppPanel is the real host; tests use
// a fake. Every member runs on the GUI thread.
class AppCommandHost {
  public:
    virtual ~AppCommandHost() = default;
    virtual const std::string& SettingsFile() const = 0;
    virtual const std::string& MainPanelName() const = 0;
    // Creates (enable) or removes the autostart entry "MapleNook" for this executable; true on
    // success.
    virtual bool SetAutostartEntry(bool enable) = 0;
    virtual void HideMainPanel() = 0;
    virtual void MoveMainPanel(long dx, long dy) = 0;
    // Creates the pop panel when there is none, navigates it to a non-empty `url`, then
    // toggles it.
    virtual void PopPanel(const std::string& url) = 0;
    // "app.retrymain": the local page asks for the main page again. The program checks and
    // tries it itself and tells the page hostNotify('mainpage', 'ok'|'offline'|'refused').
    virtual void RetryMainPage() {}
};

// What the package commands act on. The main panel's package desk is the real one, so these
// commands go to it without passing through the panel. GUI thread only.
class PackageCommandTarget {
  public:
    virtual ~PackageCommandTarget() = default;
    // The cache folder as the settings store it.
    virtual const std::string& CacheDir() const = 0;
    // Takes `folder` as the cache folder and stores it in the settings ([app] cachedir).
    virtual void SetCacheDir(const std::string& folder) = 0;
    // The folder chooser titled "缓存目录"; none when cancelled.
    virtual std::optional<std::string> BrowseForCacheFolder() = 0;
    // Remembers `url` as the package's address and runs the package on a worker; `title` is
    // the tool's name as the page shows it (empty: the page gave none).
    virtual void StartBrushTask(const std::string& fileName, const std::string& url,
                                const std::string& title) = 0;
    virtual void PrefetchIfStale(const std::string& fileName, const std::string& url,
                                 const std::string& version) = 0;
    // "app.progress": download and extraction progress for the page on or off; a page that
    // asks also gets the causes of failures.
    virtual void SetPageProgress(bool /*on*/) {}
    // "app.cancelbrush": stops the package's running download or extraction.
    virtual void CancelBrush(const std::string& /*fileName*/) {}
    // "app.hasapp": whether the package's program is in the cache folder in use, in a folder
    // this program made (so that a run starts it without a download).
    virtual bool HasPackage(const std::string& /*fileName*/) const { return false; }
};

// The main panel's command set, offered every page command before the common set. Nonzero when
// `command.name` is one of its names (whether or not the command then did anything). A command
// whose required items are missing is ignored and leaves the result at -1; only "panel.pop"
// takes its item as optional.
int RunAppCommand(PageCommand& command, AppCommandHost& panel, PackageCommandTarget& packages);

// The names of the set that the common set has too; the main panel's bridge offers its own set
// first, so these are answered its own way.
std::vector<std::string> AppCommandsOverridingCommon();
// Every name of the set, in table order.
std::vector<std::string> AppCommandNames();
