// The package cache with the real downloader and extractor against a loopback site: a kill at
// any moment, addresses that name files the cache itself holds, the default folder, quitting
// during a download, and the clean-up of what earlier runs left.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

#include "ChildRun.h"
#include "LoopbackHttp.h"
#include "NotifyArgs.h"
#include "ScopedEnv.h"
#include "ScratchFolder.h"
#include "base/Settings.h"
#include "package/BrushWorkflow.h"
#include "package/PackageCache.h"
#include "package/PackageServices.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

namespace {

// Serves <dir>/site/<name> as /x/<name>; /slow/<name> sends a first piece and then waits.
struct Site {
    ScratchFolder dir;
    std::string cache = dir / "cache";
    loopback::HttplibServer http;
    Strings notes;
    std::mutex mutex;
    std::chrono::milliseconds stall = kStallNotice;
    std::condition_variable released;
    bool release = false;

    Site() {
        http.server.Get(R"(/x/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string file = dir / ("site/" + req.matches[1].str());
            if (!fs::exists(file))
                res.status = 404;
            else
                res.set_content(ReadFile(file), "application/zip");
        });
        http.server.Get("/slow/tool.zip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_header("ETag", "\"slow\"");
            res.set_content_provider(1000, "application/zip",
                                     [this](size_t at, size_t, auto& sink) {
                                         std::unique_lock<std::mutex> lock(mutex);
                                         if (at > 0)
                                             released.wait_for(lock, 30s, [&] { return release; });
                                         return sink.write(std::string(500, 'z').data(), 500);
                                     });
        });
        EXPECT_TRUE(http.Start());
        fs::create_directories(cache);
    }
    ~Site() { Release(); }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
        released.notify_all();
    }
    // Info-ZIP adds ".zip" to a name without one, so the archive is renamed afterwards.
    void Zip(const std::string& name, const std::string& options = "") {
        const std::string made = dir / "made.zip";
        ASSERT_EQ(std::system(("cd " + ShellQuote(dir / "src") + " && zip -q -r " + options + " " +
                               ShellQuote(made) + " .")
                                  .c_str()),
                  0);
        fs::rename(made, dir / ("site/" + name));
    }
    std::string Url(const std::string& name) { return http.BaseUrl() + "/x/" + name; }
    std::shared_ptr<CBrushWorkflow> Flow() {
        BrushServices s = RealPackageServices();
        s.notifyPage = [this](const std::string&, const std::vector<std::string>& args) {
            std::lock_guard<std::mutex> lock(mutex);
            notes.push_back(JoinedNotifyArgs(args));
        };
        s.startProgram = [](const std::string&, const std::string& file) {
            return fs::exists(file);
        };
        s.queueTask = [](std::function<void()> task) { task(); };
        s.stallNotice = stall;
        return std::make_shared<CBrushWorkflow>(s);
    }
    // The entries of `folder`; in a staging folder, what is staged (not the marks' records).
    Strings Names(const std::string& folder) {
        Strings names;
        const bool staging = fs::path(folder).filename() == ".maplenook";
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (staging && entry.path().filename() == "marks") continue;
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST(PackageCache, KilledFetchLeavesNothingPresentAndTheNextRunFetchesItWhole) {
    Site site;
    WriteFile(site.dir / "src/tool.exe", "#!/bin/sh\n", 0755);
    ASSERT_EQ(
        std::system(("head -c 134217728 /dev/zero > " + site.dir / "src/payload.bin").c_str()), 0);
    fs::create_directories(site.dir / "site");
    site.Zip("tool.zip", "-0");
    const auto midway = [&] {
        return testsupport::StagedFileIsPartlyWritten(site.cache, "tool", "payload.bin",
                                                      128u << 20);
    };
    bool killed = false;
    for (int attempt = 0; attempt < 5 && !killed; ++attempt) {
        const pid_t child = testsupport::StartInChild(
            [&] { site.Flow()->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip")); });
        killed = testsupport::WaitUntil(
                     [&] { return midway() || fs::exists(site.cache + "/tool"); }, 60s) &&
                 !fs::exists(site.cache + "/tool") && kill(child, SIGKILL) == 0;
        testsupport::KillAndReap(child, SIGKILL);
        if (!killed) fs::remove_all(site.cache + "/tool");
    }
    ASSERT_TRUE(killed);
    EXPECT_FALSE(fs::exists(site.cache + "/tool"));
    EXPECT_FALSE(site.Names(site.cache + "/.maplenook").empty()) << "the kill left its staging";

    // A later run (a process of its own) clears the leftovers and fetches the package again.
    // Its start is known to a clock tick; let that tick pass after the kill.
    std::this_thread::sleep_for(50ms);
    const auto again = testsupport::RunInChild(
        [&] {
            auto flow = site.Flow();
            const int ran = flow->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip"));
            std::string text;
            for (const auto& note : site.notes) text += note + "\n";
            WriteFile(site.dir / "notes.txt", text);
            return ran == 1 ? 0 : 1;
        },
        120s);
    EXPECT_TRUE(again.exited && again.exitCode == 0);
    EXPECT_EQ(ReadFile(site.dir / "notes.txt"), "tool','download\ntool','unzip\ntool','run\n");
    EXPECT_EQ(site.Names(site.cache), (Strings{".maplenook", "tool"}));
    EXPECT_TRUE(site.Names(site.cache + "/.maplenook").empty());
    EXPECT_EQ(fs::file_size(site.cache + "/tool/payload.bin"), 128u << 20);
}

TEST(PackageCache, AddressesAndNamesNeverReachFilesTheCacheOrTheInstallationHolds) {
    Site site;
    WriteFile(site.dir / "src/tool.exe", "program", 0755);
    fs::create_directories(site.dir / "site");
    site.Zip("maplenook");
    WriteFile(site.dir / "site/cfg.ini", "not a zip");
    WriteFile(site.cache + "/cfg.ini", "[app]\n");
    WriteFile(site.cache + "/maplenook", "the program");
    auto flow = site.Flow();
    // The archive's name is never the address's last part.
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", site.Url("maplenook")), 1);
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "cfg.exe", site.Url("cfg.ini")), 0);
    // A package folder never replaces a file of that name: it is somebody else's.
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "maplenook.exe", site.Url("maplenook")), 0);
    // An empty base name, or one that is a staging name, is refused silently.
    EXPECT_EQ(flow->EnsureAndRun(site.cache, ".exe", site.Url("maplenook")), 0);
    EXPECT_EQ(flow->EnsureAndRun(site.cache, ".a.unzip-abc123.exe", site.Url("maplenook")), 0);
    EXPECT_EQ(site.notes,
              (Strings{"tool','download", "tool','unzip", "tool','run", "cfg','download",
                       "cfg','unzip", "cfg','run.error", "maplenook','run.error"}));
    EXPECT_EQ(ReadFile(site.cache + "/cfg.ini"), "[app]\n");
    EXPECT_EQ(ReadFile(site.cache + "/maplenook"), "the program");
    EXPECT_EQ(site.Names(site.cache), (Strings{".maplenook", "cfg.ini", "maplenook", "tool"}));

    // An empty setting, or one naming the installed folder, means the user's cache folder.
    testsupport::ScopedEnv env;
    env.Set("XDG_CACHE_HOME", site.dir / "xdg");
    const std::string home = site.dir / "xdg/MapleNook/packages";
    auto defaulted = site.Flow();
    EXPECT_EQ(defaulted->EnsureAndRun("", "tool.exe", site.Url("maplenook")), 1);
    EXPECT_EQ(defaulted->EnsureAndRun("\\", "tool.exe", site.Url("maplenook")), 1);
    EXPECT_EQ(site.Names(home), (Strings{".maplenook", "tool"}));
    struct stat info {};
    ASSERT_EQ(stat(home.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_FALSE(fs::exists(ModuleDirectory() + "/tool"));
    // A setting others could write into, or the installation by any spelling, is not used.
    const std::string link = site.dir / "install-link";
    fs::create_directory_symlink(ModuleDirectory(), link);
    for (const std::string& setting :
         {std::string("/tmp"), ModuleDirectory() + "/res/..", link, link + "/tests"})
        EXPECT_EQ(defaulted->ResolveCache(setting).setting, home) << setting;
    EXPECT_EQ(defaulted->ResolveCache(site.cache).setting, site.cache);
}

TEST(PackageCache, QuittingRemovesTheDownloadOfARunningTaskAndStartUpSweepsOldLeftovers) {
    Site site;
    auto flow = site.Flow();
    std::thread task([&] {
        flow->EnsureAndRun(site.cache, "tool.exe", site.http.BaseUrl() + "/slow/tool.zip");
    });
    const std::string staging = site.cache + "/.maplenook";
    const auto staged = [&] { return fs::exists(staging) && site.Names(staging).size() == 1; };
    ASSERT_TRUE(testsupport::WaitUntil(staged, 30s));
    EXPECT_EQ(site.Names(staging)[0].rfind(".tool.part-", 0), 0u);
    flow->RemoveRunningStaging();
    EXPECT_TRUE(site.Names(staging).empty());
    site.Release();
    task.join();
    EXPECT_TRUE(site.Names(staging).empty());

    // Leftovers of a run before this one go; what this run is making stays. Only the staging
    // folder is looked at: the user's own hidden folders of look-alike names stay.
    WriteFile(staging + "/.old.part-abc123", "x");
    WriteFile(staging + "/.old.unzip-abc123/a/b", "x");
    WriteFile(site.cache + "/.thesis.part-backup/notes.odt", "mine");
    WriteFile(site.cache + "/.config.unzip-old123/x", "mine");
    WriteFile(site.cache + "/keep/keep.exe", "x");
    // A part kept for resuming (its sidecar beside it) stays while it is young.
    WriteFile(staging + "/.kept.part-abc123", "x");
    WriteFile(staging + "/.kept.resume-abc123", "x");
    RemoveStagingLeftovers(site.cache, "", false);
    EXPECT_EQ(site.Names(staging).size(), 4u);
    std::this_thread::sleep_for(50ms);
    const auto later = testsupport::RunInChild(
        [&] {
            site.Flow()->StartSweep(site.cache);
            return 0;
        },
        30s);
    EXPECT_TRUE(later.exited);
    EXPECT_EQ(site.Names(staging), (Strings{".kept.part-abc123", ".kept.resume-abc123"}));
    EXPECT_EQ(site.Names(site.cache),
              (Strings{".config.unzip-old123", ".maplenook", ".thesis.part-backup", "keep"}));
}

TEST(PackageCache, FoldersTheProgramDidNotMakeAreNeverReplacedAndPlantedProgramsNeverRun) {
    Site site;
    WriteFile(site.dir / "src/tool.exe", "#!/bin/sh\n", 0755);
    fs::create_directories(site.dir / "site");
    site.Zip("tool.zip");
    // The user's own folder of the package's name, with nothing like the program in it.
    WriteFile(site.cache + "/tool/thesis.odt", "three years");
    auto flow = site.Flow();
    flow->SetPageProgress(false);  // causes on
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip")), 0);
    EXPECT_EQ(site.notes.back(), "tool','run.error','conflict");
    EXPECT_EQ(site.Names(site.cache + "/tool"), Strings{"thesis.odt"});
    EXPECT_EQ(ReadFile(site.cache + "/tool/thesis.odt"), "three years");
    // Even holding the program, the folder is not ours, so it is not run.
    WriteFile(site.cache + "/tool/tool.exe", "#!/bin/sh\n", 0755);
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip")), 0);
    EXPECT_EQ(site.notes.back(), "tool','run.error','conflict");
    // Holding nothing but the archive's files, byte for byte, it is an earlier extraction: the
    // program takes it over (an earlier version's mark that no longer fits changes nothing).
    fs::remove(site.cache + "/tool/thesis.odt");
    WriteFile(site.cache + "/tool/.maplenook-package", "maplenook package 1:2\n");
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip")), 1);
    EXPECT_EQ(site.notes.back(), "tool','run");

    // The program's own folder is replaced whole by a new version...
    fs::remove_all(site.cache + "/tool");
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip")), 1);
    fs::remove(site.cache + "/tool/tool.exe");
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip")), 1);
    // ...but a copy of it under the package's name is not the program's.
    fs::rename(site.cache + "/tool", site.dir / "moved");
    fs::copy(site.dir / "moved", site.cache + "/tool", fs::copy_options::recursive);
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip")), 0);
    EXPECT_EQ(site.notes.back(), "tool','run.error','conflict");

    // A program another user could have changed is never started.
    fs::remove_all(site.cache + "/tool");
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip")), 1);
    fs::permissions(site.cache + "/tool/tool.exe", fs::perms::group_write, fs::perm_options::add);
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", site.Url("tool.zip")), 0);
    EXPECT_EQ(site.notes.back(), "tool','run.error','unsafe");
}

TEST(PackageCache, ACutDownloadContinuesWithRangeAndAChangedPackageComesWhole) {
    Site site;
    fs::create_directories(site.dir / "site");
    std::string bodies[2], payloads[2];
    for (int version = 0; version < 2; ++version) {
        WriteFile(site.dir / "src/tool.exe", "#!/bin/sh\n", 0755);
        std::string& payload = payloads[version];
        payload.resize(1u << 20);
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<char>((i * 2654435761u + version) >> 13);
        WriteFile(site.dir / "src/payload.bin", payload);
        site.Zip("v.zip", "-0");
        bodies[version] = ReadFile(site.dir / "site/v.zip");
    }
    // Serves bodies[served] with its ETag, a range only when If-Range names it, and cuts the
    // next answer at 60 % when asked.
    int served = 0;
    bool cut = true;
    loopback::RawHttpServer raw([&](const std::string& request) {
        const std::string& body = bodies[served];
        const std::string tag = "\"v" + std::to_string(served) + "\"";
        const auto range = request.find("\r\nRange: bytes=");
        size_t from = 0;
        if (range != std::string::npos &&
            request.find("\r\nIf-Range: " + tag + "\r\n") != std::string::npos)
            from = std::stoul(request.substr(range + 15));
        std::string head = from == 0
                               ? "HTTP/1.1 200 OK\r\n"
                               : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                     std::to_string(from) + "-" + std::to_string(body.size() - 1) +
                                     "/" + std::to_string(body.size()) + "\r\n";
        head += "ETag: " + tag + "\r\nContent-Length: " + std::to_string(body.size() - from) +
                "\r\n\r\n";
        const size_t send = std::exchange(cut, false) ? body.size() * 6 / 10 : body.size() - from;
        return head + body.substr(from, send);
    });
    const std::string url = raw.BaseUrl() + "/pkg/tool.zip";
    const std::string cutAt = std::to_string(bodies[0].size() * 6 / 10);
    auto flow = site.Flow();
    flow->SetPageProgress(true);
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", url), 0);
    EXPECT_EQ(site.notes.back(), "tool','download.error','network");
    EXPECT_EQ(site.Names(site.cache + "/.maplenook").size(), 2u) << "the part and its sidecar";

    // The next run asks for the rest only, counts from there, and ends with the same bytes.
    site.notes.clear();
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe", url), 1);
    auto requests = raw.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("\r\nRange: bytes=" + cutAt + "-\r\nIf-Range: \"v0\"\r\n"),
              std::string::npos)
        << requests[1];
    ASSERT_GE(site.notes.size(), 2u);
    EXPECT_EQ(site.notes[0], "tool','download");
    EXPECT_GE(std::stoul(site.notes[1].substr(7)), std::stoul(cutAt)) << site.notes[1];
    EXPECT_TRUE(ReadFile(site.cache + "/tool/payload.bin") == payloads[0]);
    EXPECT_TRUE(site.Names(site.cache + "/.maplenook").empty());

    // A cut, then a new version on the server: If-Range no longer matches, so it comes whole.
    fs::remove_all(site.cache + "/tool");
    cut = true;
    EXPECT_EQ(site.Flow()->EnsureAndRun(site.cache, "tool.exe", url), 0);
    served = 1;
    EXPECT_EQ(site.Flow()->EnsureAndRun(site.cache, "tool.exe", url), 1);
    requests = raw.Requests();
    EXPECT_NE(requests.back().find("If-Range: \"v0\""), std::string::npos);
    EXPECT_TRUE(ReadFile(site.cache + "/tool/payload.bin") == payloads[1]);
}

TEST(PackageCache, AStalledDownloadSaysItIsWaitingUntilBytesComeAgain) {
    Site site;
    site.stall = 100ms;
    auto flow = site.Flow();
    flow->SetPageProgress(true);
    std::thread task([&] {
        flow->EnsureAndRun(site.cache, "tool.exe", site.http.BaseUrl() + "/slow/tool.zip");
    });
    const auto heard = [&](const std::string& note) {
        std::lock_guard<std::mutex> lock(site.mutex);
        return std::find(site.notes.begin(), site.notes.end(), note) != site.notes.end();
    };
    const auto stalled = [&] { return heard("tool','500','1000','waiting"); };
    // Cancelled while waiting: the user asked to stop, so nothing is kept to resume.
    EXPECT_TRUE(testsupport::WaitUntil(stalled, 30s));
    flow->CancelBrush("tool.exe");
    task.join();
    EXPECT_EQ(site.notes.back(), "tool','download.error','cancelled");
    EXPECT_TRUE(site.Names(site.cache + "/.maplenook").empty());
    site.notes.clear();
    task = std::thread([&] {
        flow->EnsureAndRun(site.cache, "tool.exe", site.http.BaseUrl() + "/slow/tool.zip");
    });
    EXPECT_TRUE(testsupport::WaitUntil(stalled, 30s));
    site.Release();
    task.join();
    EXPECT_TRUE(heard("tool','1000','1000','download"));
}

// A server whose certificate nobody vouches for gets no request, and the page hears why.
TEST(PackageCache, ASelfSignedServerFailsWithTheCauseTls) {
    Site site;
    const std::string key = site.dir / "key.pem", cert = site.dir / "cert.pem";
    if (std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                     "-addext subjectAltName=IP:127.0.0.1 -keyout " +
                     ShellQuote(key) + " -out " + ShellQuote(cert) + " 2>/dev/null")
                        .c_str()) != 0)
        GTEST_SKIP() << "openssl cannot make a certificate here";
    httplib::SSLServer tls(cert.c_str(), key.c_str());
    if (!tls.is_valid()) GTEST_SKIP() << "cpp-httplib was built without TLS";
    bool asked = false;
    tls.Get(".*", [&](const httplib::Request&, httplib::Response& res) {
        asked = true;
        res.set_content("zip", "application/zip");
    });
    const int port = tls.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { tls.listen_after_bind(); });
    auto flow = site.Flow();
    flow->SetPageProgress(false);
    EXPECT_EQ(flow->EnsureAndRun(site.cache, "tool.exe",
                                 "https://127.0.0.1:" + std::to_string(port) + "/tool.zip"),
              0);
    tls.stop();
    serving.join();
    EXPECT_EQ(site.notes.back(), "tool','download.error','tls");
    EXPECT_FALSE(asked);
}
