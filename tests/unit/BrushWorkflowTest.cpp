// The package workflow's page-visible sequences, against fakes for the network, the archive
// reader, the file system and the program launcher.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "NotifyArgs.h"
#include "base/WorkerPool.h"
#include "mainpanel/CompanionApp.h"
#include "package/BrushWorkflow.h"
#include "package/PackagePaths.h"

namespace {

using Strings = std::vector<std::string>;

// An in-memory cache folder and server: archives map a URL to the paths its extraction creates
// (relative to the extraction folder).
struct FakeWorld {
    std::mutex mutex;
    std::set<std::string> files;
    std::map<std::string, Strings> archives;
    std::set<std::string> brokenArchives;  // extraction fails half-way
    bool startFails = false;
    std::chrono::milliseconds downloadDelay{0};

    Strings notes;  // "<event>:<data>" and "hide", in call order
    Strings downloads;
    std::map<std::string, std::string> downloaded;  // staged archive -> its URL
    std::vector<std::pair<std::string, std::string>> starts;
    Strings installs;
    std::vector<std::function<void()>> queued;

    void Log(const std::string& line) {
        std::lock_guard<std::mutex> guard(mutex);
        notes.push_back(line);
    }

    int Fetch(const std::string& url, const std::string& path) {
        std::this_thread::sleep_for(downloadDelay);
        std::lock_guard<std::mutex> guard(mutex);
        downloads.push_back(url + " -> " + path.substr(0, path.rfind('/') + 1));
        if (!archives.count(url)) return 0;
        files.insert(path);
        downloaded[path] = url;
        return 1;
    }

    uint64_t Entries(const std::string& archive) {
        std::lock_guard<std::mutex> guard(mutex);
        const auto url = downloaded.find(archive);
        return url == downloaded.end() ? 0 : archives[url->second].size();
    }

    // Extraction is all or nothing: a broken archive leaves nothing.
    bool Unzip(const std::string& archive, const std::string& directory) {
        std::lock_guard<std::mutex> guard(mutex);
        if (!files.count(archive) || !downloaded.count(archive)) return false;
        const std::string url = downloaded[archive];
        if (brokenArchives.count(url)) return false;
        const std::string dir = directory.back() == '/' ? directory : directory + "/";
        for (const auto& entry : archives[url]) files.insert(dir + entry);
        return true;
    }

    BrushServices Services(bool runInline = true) {
        BrushServices s;
        s.moduleDirectory = "/opt/maplenook";
        s.notifyPage = [this](const std::string& e, const std::vector<std::string>& args) {
            Log(e + ":" + JoinedNotifyArgs(args));
        };
        s.hideMainPanel = [this] { Log("hide"); };
        s.downloadResumable = [this](const std::string& url, const std::string& path,
                                     const DownloadResume&,
                                     DownloadWatch&) { return Fetch(url, path); };
        // Each entry counts as one byte written, all at once.
        s.unzipWatched = [this](const std::string& archive, const std::string& directory,
                                const std::function<bool(uint64_t, uint64_t)>& progress,
                                const ArchiveCheck&) {
            const uint64_t size = Entries(archive);
            if (!progress(size, size)) return UnzipResult::Cancelled;
            return Unzip(archive, directory) ? UnzipResult::Done : UnzipResult::Damaged;
        };
        s.startProgram = [this](const std::string& directory, const std::string& file) {
            std::lock_guard<std::mutex> guard(mutex);
            if (startFails || !files.count(file)) return false;
            starts.emplace_back(directory, file);
            return true;
        };
        s.fileExists = [this](const std::string& path) {
            std::lock_guard<std::mutex> guard(mutex);
            return files.count(path) > 0;
        };
        s.removeFile = [this](const std::string& path) {
            std::lock_guard<std::mutex> guard(mutex);
            return files.erase(path) > 0;
        };
        s.afterStart = CompanionAfterStart(s.moduleDirectory, [this](const std::string& apk) {
            Log("install:" + apk);
            installs.push_back(apk);
        });
        if (runInline)
            s.queueTask = [](std::function<void()> task) { task(); };
        else
            s.queueTask = [this](std::function<void()> task) { queued.push_back(std::move(task)); };
        return s;
    }
};

const std::string kCache = "/home/u/cache";
const std::string kToolUrl = "http://127.0.0.1:1/pkg/tool.zip";

TEST(PackagePaths, NamesAndLocations) {
    EXPECT_EQ(PackageBaseName("a.b.exe"), "a.b");
    EXPECT_EQ(PackageBaseName("tool"), std::nullopt);
    EXPECT_EQ(PackageArchiveName("http://h/x/tool.zip"), "tool.zip");
    EXPECT_EQ(PackageArchiveName(""), std::nullopt);
    EXPECT_EQ(PackageArchiveName("tool.zip"), std::nullopt);

    auto place = PlacePackage(kCache, "a.b.exe");
    ASSERT_TRUE(place);
    EXPECT_EQ(place->folder, kCache + "/a.b");
    EXPECT_EQ(place->program, kCache + "/a.b/a.b.exe");
    EXPECT_EQ(place->stagingHome, kCache + "/.maplenook");
    // No cache folder at all places nothing, never the file system's root.
    EXPECT_FALSE(PlacePackage("", "x.exe"));
    // Names that would leave the cache folder are refused.
    EXPECT_FALSE(PlacePackage(kCache, "../x.exe"));
    EXPECT_FALSE(PlacePackage(kCache, "a\\b.exe"));
    EXPECT_FALSE(PlacePackage(kCache, "...exe"));
    // An empty base name, and one the cache uses for work in progress.
    EXPECT_FALSE(PlacePackage(kCache, ".exe"));
    EXPECT_FALSE(PlacePackage(kCache, ".x.part-ab12CD.exe"));
    EXPECT_TRUE(PlacePackage(kCache, ".x.part-ab12.exe"));
    // Stored backslashes and a module-relative setting; the installed folder is never the
    // cache, a folder inside it may be; a folder the check refuses falls back to the default.
    const auto resolve = [](const std::string& setting) {
        const auto cache = ResolveCacheSetting(
            "/m", setting, "/d", [](const std::string& f) { return f != "/refused"; });
        return cache.setting + " " + cache.folder;
    };
    EXPECT_EQ(resolve(""), "/d /d");
    EXPECT_EQ(resolve("\\"), "/d /d");
    EXPECT_EQ(resolve("/m//"), "/d /d");
    EXPECT_EQ(resolve("/refused/"), "/d /d");
    EXPECT_EQ(resolve("\\cache\\"), "\\cache\\ /m/cache");
    EXPECT_EQ(resolve(kCache), kCache + " " + kCache);
    // The resolved folder places packages as it is, with one separator.
    EXPECT_EQ(PlacePackage(ResolveCacheSetting("/m", "/", "/d", {}).folder, "t.exe")->program,
              "/t/t.exe");
}

TEST(BrushWorkflow, PresentPackageOnlyRuns) {
    FakeWorld w;
    w.files.insert(kCache + "/a.b/a.b.exe");
    auto flow = std::make_shared<CBrushWorkflow>(w.Services());
    EXPECT_EQ(flow->EnsureAndRun(kCache, "a.b.exe", kToolUrl), 1);
    EXPECT_EQ(w.notes, (Strings{"hide", "runbrush:a.b','run"}));
    EXPECT_TRUE(w.downloads.empty());
    ASSERT_EQ(w.starts.size(), 1u);
    EXPECT_EQ(w.starts[0].first, kCache + "/a.b");
    EXPECT_EQ(w.starts[0].second, kCache + "/a.b/a.b.exe");
}

TEST(BrushWorkflow, MissingPackageIsDownloadedExtractedAndRunThenFoundAgain) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool.exe", "data/readme.txt"};
    auto flow = std::make_shared<CBrushWorkflow>(w.Services());
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 1);
    EXPECT_EQ(w.notes, (Strings{"runbrush:tool','download", "runbrush:tool','unzip", "hide",
                                "runbrush:tool','run"}));
    EXPECT_EQ(w.downloads, (Strings{kToolUrl + " -> " + kCache + "/.maplenook/"}));
    ASSERT_EQ(w.downloaded.size(), 1u);
    EXPECT_FALSE(w.files.count(w.downloaded.begin()->first)) << "the archive outlived extraction";
    EXPECT_TRUE(w.files.count(kCache + "/tool/data/readme.txt"));

    w.notes.clear();
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 1);
    EXPECT_EQ(w.notes, (Strings{"hide", "runbrush:tool','run"}));
    EXPECT_EQ(w.downloads.size(), 1u);
}

TEST(BrushWorkflow, FailedDownloadStopsAfterDownloadError) {
    FakeWorld w;  // the server has nothing
    auto flow = std::make_shared<CBrushWorkflow>(w.Services());
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_EQ(w.notes, (Strings{"runbrush:tool','download", "runbrush:tool','download.error"}));
    EXPECT_TRUE(w.starts.empty());
}

TEST(BrushWorkflow, ProgramInSubFolderEndsInRunErrorAndDownloadsAgainNextTime) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool/tool.exe"};
    auto flow = std::make_shared<CBrushWorkflow>(w.Services());
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_EQ(w.notes, (Strings{"runbrush:tool','download", "runbrush:tool','unzip",
                                "runbrush:tool','run.error"}));
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_EQ(w.downloads.size(), 2u);
    EXPECT_TRUE(w.starts.empty());
}

TEST(BrushWorkflow, FailedExtractionLeavesNoProgramBehind) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool.exe"};
    w.brokenArchives.insert(kToolUrl);
    auto flow = std::make_shared<CBrushWorkflow>(w.Services());
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_EQ(w.notes.back(), "runbrush:tool','run.error");
    EXPECT_FALSE(w.files.count(kCache + "/tool/tool.exe"));
    ASSERT_EQ(w.downloaded.size(), 1u);
    EXPECT_FALSE(w.files.count(w.downloaded.begin()->first)) << "the broken archive was kept";
    EXPECT_TRUE(w.starts.empty());
}

TEST(BrushWorkflow, RefusedNamesAndUrlsAreSilent) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool.exe"};
    auto flow = std::make_shared<CBrushWorkflow>(w.Services());
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", "tool.zip"), 0);  // no "/"
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", ""), 0);
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool", kToolUrl), 0);  // no "."
    EXPECT_EQ(flow->EnsureAndRun(kCache, "../../tool.exe", kToolUrl), 0);
    EXPECT_TRUE(w.notes.empty());
    EXPECT_TRUE(w.downloads.empty());
}

TEST(BrushWorkflow, StartFailureSendsRunErrorAndKeepsThePanel) {
    FakeWorld w;
    w.files.insert(kCache + "/tool/tool.exe");
    w.startFails = true;
    auto flow = std::make_shared<CBrushWorkflow>(w.Services());
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_EQ(w.notes, (Strings{"runbrush:tool','run.error"}));
}

TEST(BrushWorkflow, NameHoldingTheArgumentSeparatorStaysOneArgument) {
    FakeWorld w;
    w.archives[kToolUrl] = {"a','b.exe"};
    auto services = w.Services();
    std::vector<Strings> sent;
    services.notifyPage = [&](const std::string& event, const Strings& args) {
        sent.push_back(args);
        sent.back().insert(sent.back().begin(), event);
    };
    services.downloadResumable = [&](const std::string& url, const std::string& path,
                                     const DownloadResume&, DownloadWatch& watch) {
        watch.progress(1, 1);
        return w.Fetch(url, path);
    };
    w.startFails = true;
    auto flow = std::make_shared<CBrushWorkflow>(services);
    flow->SetPageProgress(true);
    EXPECT_EQ(flow->EnsureAndRun(kCache, "a','b.exe", kToolUrl), 0);
    EXPECT_EQ(sent, (std::vector<Strings>{{"runbrush", "a','b", "download"},
                                          {"brushprogress", "a','b", "1", "1", "download"},
                                          {"runbrush", "a','b", "unzip"},
                                          {"brushprogress", "a','b", "1", "1", "unzip"},
                                          {"runbrush", "a','b", "run.error", "start"}}));
}

// The tray and the desktop's notifications hear every cause, even before the page opts in.
TEST(BrushWorkflow, TheOutsideHearsEachNotificationFirstAndWithItsCause) {
    FakeWorld w;
    w.files.insert(kCache + "/tool/tool.exe");
    w.startFails = true;
    auto services = w.Services();
    Strings outside;
    services.notifyOutside = [&](const std::string& event, const Strings& args) {
        outside.push_back(event + ":" + std::to_string(w.notes.size()));
        for (const auto& arg : args) outside.back() += "," + arg;
    };
    auto flow = std::make_shared<CBrushWorkflow>(services);
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_EQ(w.notes, (Strings{"runbrush:tool','run.error"}));
    EXPECT_EQ(outside, (Strings{"runbrush:0,tool,run.error,start"}));
}

TEST(BrushWorkflow, APageThatOptsInHearsCausesAndCanCancelOnlyWhatRuns) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool/tool.exe"};  // the program is not at the top level
    auto services = w.Services();
    bool cancelDuringDownload = false;
    std::shared_ptr<CBrushWorkflow> flow;
    services.downloadResumable = [&](const std::string& url, const std::string& path,
                                     const DownloadResume&, DownloadWatch& watch) {
        if (cancelDuringDownload) flow->CancelBrush("tool.exe");
        if (!watch.progress(10, 20)) {
            watch.failure = DownloadFailure::Cancelled;
            return 0;
        }
        return w.Fetch(url, path);
    };
    flow = std::make_shared<CBrushWorkflow>(services);
    // Cancelling what does not run changes nothing, not even a later run.
    flow->CancelBrush("tool.exe");
    flow->SetPageProgress(true);
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    // The last progress call of a finished download has done equal to total.
    EXPECT_EQ(
        w.notes,
        (Strings{"runbrush:tool','download", "brushprogress:tool','10','20','download",
                 "brushprogress:tool','20','20','download", "runbrush:tool','unzip",
                 "brushprogress:tool','1','1','unzip", "runbrush:tool','run.error','missing"}));

    w.notes.clear();
    w.brokenArchives.insert(kToolUrl);
    flow->SetPageProgress(false);  // progress off, causes stay
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_EQ(w.notes.back(), "runbrush:tool','run.error','archive");

    // Cancelled while extracting: the extraction stops, nothing starts.
    w.notes.clear();
    w.brokenArchives.clear();
    w.archives[kToolUrl] = {"tool.exe"};
    flow->SetPageProgress(true);
    bool unzipStopped = false;
    flow = std::make_shared<CBrushWorkflow>([&] {
        auto s = services;
        s.unzipWatched = [&](const std::string& archive, const std::string& directory,
                             const std::function<bool(uint64_t, uint64_t)>& progress,
                             const ArchiveCheck&) {
            if (!progress(50, 100)) return UnzipResult::Cancelled;
            flow->CancelBrush("tool.exe");
            unzipStopped = !progress(60, 100);
            if (unzipStopped) return UnzipResult::Cancelled;
            return w.Unzip(archive, directory) ? UnzipResult::Done : UnzipResult::Damaged;
        };
        return s;
    }());
    flow->SetPageProgress(true);
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_TRUE(unzipStopped);
    EXPECT_EQ(w.notes.back(), "runbrush:tool','run.error','cancelled");
    EXPECT_NE(std::find(w.notes.begin(), w.notes.end(), "brushprogress:tool','50','100','unzip"),
              w.notes.end());
    EXPECT_FALSE(w.files.count(kCache + "/tool/tool.exe"));

    w.notes.clear();
    cancelDuringDownload = true;
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_EQ(w.notes,
              (Strings{"runbrush:tool','download", "brushprogress:tool','10','20','download",
                       "runbrush:tool','download.error','cancelled"}));
    EXPECT_TRUE(w.starts.empty());
}

TEST(BrushWorkflow, CompanionProgramIsFollowedByThePhonePackage) {
    FakeWorld w;
    w.files.insert(kCache + "/lanternhall/lanternhall.exe");
    w.files.insert(kCache + "/LanternHall/LanternHall.exe");
    auto flow = std::make_shared<CBrushWorkflow>(w.Services());
    EXPECT_EQ(flow->EnsureAndRun(kCache, "lanternhall.exe", kToolUrl), 1);
    EXPECT_EQ(w.notes,
              (Strings{"hide", "runbrush:lanternhall','run", "install:/opt/maplenook/phone.apk"}));
    // Exactly that name, in that case.
    EXPECT_EQ(flow->EnsureAndRun(kCache, "LanternHall.exe", kToolUrl), 1);
    EXPECT_EQ(w.installs.size(), 1u);
}

TEST(BrushWorkflow, TaskKeepsTheCacheFolderItStartedWith) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool.exe"};
    auto flow = std::make_shared<CBrushWorkflow>(w.Services(/*runInline=*/false));
    std::string cache = "/first";
    flow->StartBrushTask(cache, "tool.exe", kToolUrl);
    cache = "/second";  // "app.setpath" while the task waits in the queue
    ASSERT_EQ(w.queued.size(), 1u);
    w.queued[0]();
    ASSERT_EQ(w.starts.size(), 1u);
    EXPECT_EQ(w.starts[0].second, "/first/tool/tool.exe");
}

TEST(BrushWorkflow, PrefetchDownloadsAndExtractsWithoutRunningAndTellsItsEnd) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool.exe"};
    const std::string brokenUrl = "http://127.0.0.1:1/pkg/broken.zip";
    w.archives[brokenUrl] = {"broken.exe"};
    w.brokenArchives.insert(brokenUrl);
    auto services = w.Services();
    services.fetchEnded = [&w](const std::string& base) { w.Log("ended:" + base); };
    auto flow = std::make_shared<CBrushWorkflow>(std::move(services));
    flow->StartFetchTask(kCache, "tool.exe", kToolUrl);
    // The page hears nothing after "unzip", whether or not the extraction worked.
    flow->StartFetchTask(kCache, "broken.exe", brokenUrl);
    EXPECT_EQ(w.notes,
              (Strings{"runbrush:tool','download", "runbrush:tool','unzip", "ended:tool",
                       "runbrush:broken','download", "runbrush:broken','unzip", "ended:broken"}));
    EXPECT_TRUE(w.files.count(kCache + "/tool/tool.exe"));
    EXPECT_TRUE(w.starts.empty());
}

TEST(BrushWorkflow, ConcurrentTasksForOnePackageDownloadOnce) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool.exe"};
    w.downloadDelay = std::chrono::milliseconds(100);
    auto flow = std::make_shared<CBrushWorkflow>(w.Services());
    std::vector<std::thread> tasks;
    for (int i = 0; i < 4; ++i)
        tasks.emplace_back([&] { flow->EnsureAndRun(kCache, "tool.exe", kToolUrl); });
    for (auto& t : tasks) t.join();
    EXPECT_EQ(w.downloads.size(), 1u);
    EXPECT_EQ(w.starts.size(), 4u);
    Strings states;
    for (const auto& n : w.notes)
        if (n != "hide") states.push_back(n);
    EXPECT_EQ(states.size(), 6u);
    EXPECT_EQ(states[0], "runbrush:tool','download");
    EXPECT_EQ(states[1], "runbrush:tool','unzip");
    for (size_t i = 2; i < states.size(); ++i) EXPECT_EQ(states[i], "runbrush:tool','run");
}

TEST(BrushWorkflow, ForeignFoldersUnsafeProgramsAndFullDisksEachFailWithTheirCause) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool.exe"};
    auto services = w.Services();
    PackageFolderState folder = PackageFolderState::Foreign;
    bool safe = true;
    uint64_t free = UINT64_MAX;
    UnzipResult unzipResult = UnzipResult::Done;
    services.packageFolderState = [&](const std::string&) { return folder; };
    services.safeToStart = [&](const std::string&, const std::string&) { return safe; };
    services.freeSpace = [&](const std::string&) { return free; };
    services.downloadResumable = [&](const std::string& url, const std::string& path,
                                     const DownloadResume&, DownloadWatch& watch) {
        if (!watch.progress(0, 40 << 20)) {
            watch.failure = DownloadFailure::Cancelled;
            return 0;
        }
        return w.Fetch(url, path);
    };
    services.unzipWatched = [&](const std::string& archive, const std::string& directory,
                                const std::function<bool(uint64_t, uint64_t)>&,
                                const ArchiveCheck&) {
        if (unzipResult != UnzipResult::Done) return unzipResult;
        return w.Unzip(archive, directory) ? UnzipResult::Done : UnzipResult::Damaged;
    };
    auto flow = std::make_shared<CBrushWorkflow>(services);
    flow->SetPageProgress(false);  // causes on
    const auto lastNote = [&] {
        flow->EnsureAndRun(kCache, "tool.exe", kToolUrl);
        return w.notes.back();
    };
    // Somebody else's folder of the package's name: nothing is fetched, written or run.
    EXPECT_EQ(lastNote(), "runbrush:tool','run.error','conflict");
    EXPECT_TRUE(w.downloads.empty());
    folder = PackageFolderState::Missing;
    free = 10 << 20;  // 40 MB cannot fit in 10 MB: the download stops at its head
    EXPECT_EQ(lastNote(), "runbrush:tool','download.error','disk");
    free = UINT64_MAX;
    unzipResult = UnzipResult::Disk;
    EXPECT_EQ(lastNote(), "runbrush:tool','run.error','disk");
    unzipResult = UnzipResult::InTheWay;  // made while we downloaded
    EXPECT_EQ(lastNote(), "runbrush:tool','run.error','conflict");
    unzipResult = UnzipResult::InUse;  // a program runs in the old folder
    EXPECT_EQ(lastNote(), "runbrush:tool','run.error','busy");
    // A folder nobody marked is compared with the archive, so it is downloaded; one that is
    // not an extraction of it stays the user's, and with no archive to compare it stays too.
    folder = PackageFolderState::Unmarked;
    unzipResult = UnzipResult::InTheWay;
    const size_t downloads = w.downloads.size();
    EXPECT_EQ(lastNote(), "runbrush:tool','run.error','conflict");
    EXPECT_EQ(w.downloads.size(), downloads + 1);
    flow->EnsureAndRun(kCache, "tool.exe", "no-slash");
    EXPECT_EQ(w.notes.back(), "runbrush:tool','run.error','conflict");
    folder = PackageFolderState::Missing;
    unzipResult = UnzipResult::Done;
    safe = false;
    EXPECT_EQ(lastNote(), "runbrush:tool','run.error','unsafe");
    EXPECT_TRUE(w.starts.empty());
    folder = PackageFolderState::Ours;
    safe = true;
    EXPECT_EQ(lastNote(), "runbrush:tool','run");
}

TEST(BrushWorkflow, ACancelTooLateToKeepThePackageOutIsToldThePackageIsThere) {
    FakeWorld w;
    w.archives[kToolUrl] = {"tool.exe"};
    auto services = w.Services();
    std::shared_ptr<CBrushWorkflow> flow;
    services.unzipWatched = [&](const std::string& archive, const std::string& directory,
                                const std::function<bool(uint64_t, uint64_t)>& progress,
                                const ArchiveCheck&) {
        if (!progress(100, 100)) return UnzipResult::Cancelled;
        flow->CancelBrush("tool.exe");  // after the last progress note, before the rename
        return w.Unzip(archive, directory) ? UnzipResult::Done : UnzipResult::Damaged;
    };
    flow = std::make_shared<CBrushWorkflow>(services);
    flow->SetPageProgress(true);
    EXPECT_EQ(flow->EnsureAndRun(kCache, "tool.exe", kToolUrl), 0);
    EXPECT_EQ(w.notes.back(), "runbrush:tool','run.error','cancelled','ready");
    EXPECT_TRUE(w.files.count(kCache + "/tool/tool.exe"));
    EXPECT_TRUE(w.starts.empty());
}

TEST(BrushWorkflow, APackageWaitingForItsTurnHoldsNoWorker) {
    FakeWorld w;
    const std::string slowUrl = "http://127.0.0.1:1/pkg/slow.zip";
    w.archives[kToolUrl] = {"tool.exe"};
    w.archives[slowUrl] = {"slow.exe"};
    auto services = w.Services();
    services.queueTask = [](std::function<void()> task) { QueueWorkerTask(std::move(task)); };
    std::mutex gate;
    std::condition_variable opened;
    bool open = false;
    services.downloadResumable = [&](const std::string& url, const std::string& path,
                                     const DownloadResume&, DownloadWatch&) {
        std::unique_lock<std::mutex> lock(gate);
        if (url == slowUrl) opened.wait(lock, [&] { return open; });
        return w.Fetch(url, path);
    };
    auto flow = std::make_shared<CBrushWorkflow>(services);
    // As many requests for the slow package as the pool has workers, then a quick one.
    for (int i = 0; i < 4; ++i) flow->StartBrushTask(kCache, "slow.exe", slowUrl);
    flow->StartBrushTask(kCache, "tool.exe", kToolUrl);
    const auto noted = [&](const std::string& note) {
        std::lock_guard<std::mutex> guard(w.mutex);
        return std::count(w.notes.begin(), w.notes.end(), note);
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (noted("runbrush:tool','run") == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(noted("runbrush:tool','run"), 1) << "the quick package waited for the slow one";
    {
        std::lock_guard<std::mutex> lock(gate);
        open = true;
    }
    opened.notify_all();
    while (noted("runbrush:slow','run") < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // In order, one at a time: the first fetched it, the rest found it.
    EXPECT_EQ(noted("runbrush:slow','run"), 4);
    EXPECT_EQ(noted("runbrush:slow','download"), 1);
}

TEST(CompanionApp, OnlyAnInterpreterRunningTheFileCountsAsTheCompanion) {
    const auto counts = [](const std::string& image, const Strings& args) {
        return IsProcessRunning(ProcessNames(image, args), "lanternhall.exe");
    };
    EXPECT_TRUE(counts("lanternhall.exe", {"./lanternhall.exe"}));
    EXPECT_TRUE(counts("sh", {"/bin/sh", "-e", "/c/lanternhall/lanternhall.exe"}));
    EXPECT_TRUE(counts("python3.11", {"python3", "/c/lanternhall/LanternHall.exe"}));
    EXPECT_TRUE(counts("wine64-preloader", {"wine", "C:\\x\\lanternhall.exe"}));
    EXPECT_FALSE(counts("tail", {"tail", "-f", "/c/lanternhall/lanternhall.exe"}));
    EXPECT_FALSE(counts("vim", {"vim", "/c/lanternhall/lanternhall.exe"}));
}

}  // namespace
