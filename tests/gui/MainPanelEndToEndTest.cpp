// The installed program under Xvfb against a loopback maker site run by the test: the main
// page and its cache-defeating query, the usage report, the fall-back to the local page, a page
// that drives the main panel's commands and records what comes back, and a clean exit.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "ChildRun.h"
#include "ForeignListener.h"
#include "ImageFiles.h"
#include "InstalledFolder.h"
#include "LoopbackHttp.h"
#include "TempDir.h"
#include "X11Windows.h"
#include "base/Settings.h"
#include "package/ZipExtract.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// True when the staging folder holds no work in progress: only the published packages' mark
// records, which stay.
bool NothingStaged(const std::string& staging) {
    for (const auto& entry : fs::directory_iterator(staging))
        if (entry.path().filename() != "marks") return false;
    return true;
}

// The test's maker site: serves pages and packages, and keeps every report a page sends.
class MakerSite {
  public:
    MakerSite() {
        http_.server.Get(
            "/Brush.html", [this](const httplib::Request& req, httplib::Response& res) {
                Record("page", req.has_param("t") ? req.get_param_value("t") : "(no t)");
                {
                    // A held page answers only once the test releases it (or after a while).
                    std::unique_lock<std::mutex> lock(mutex_);
                    changed_.wait_for(lock, 30s, [&] { return !holdMainPage_; });
                }
                res.set_header("Cache-Control", "no-store");
                res.set_content(mainPage_, "text/html; charset=utf-8");
                res.status = mainPageStatus_;
            });
        http_.server.Get("/log", [this](const httplib::Request& req, httplib::Response& res) {
            std::string line;
            for (const char* key : {"command", "ip", "mac", "os"})
                line += std::string(key) + (req.has_param(key) ? "=" : "?") + ";";
            Record("log", line);
            res.set_content("ok", "text/plain");
        });
        // Pages report with GET /note?k=<kind>&v=<value>, which works from file:// pages too.
        http_.server.Get("/note", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req.get_param_value("k"), req.get_param_value("v"));
            res.set_header("Access-Control-Allow-Origin", "*");
            res.set_content("ok", "text/plain");
        });
        // A package that sends its first bytes and then waits for the test.
        http_.server.Get("/slow/slow.zip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(
                1000, "application/zip", [this](size_t at, size_t, httplib::DataSink& sink) {
                    std::unique_lock<std::mutex> lock(mutex_);
                    if (at > 0) changed_.wait_for(lock, 30s, [&] { return slowReleased_; });
                    return sink.write(std::string(500, 'z').data(), 500);
                });
        });
        // A package from /pkg/ sent in 64 KiB pieces with a pause after each: a long download.
        http_.server.Get(
            R"(/throttled/([\w.]+))", [this](const httplib::Request& req, httplib::Response& res) {
                auto body = std::make_shared<std::string>(ReadFile(packages_.File(req.matches[1])));
                res.set_content_provider(body->size(), "application/zip",
                                         [body](size_t at, size_t, httplib::DataSink& sink) {
                                             std::this_thread::sleep_for(20ms);
                                             const size_t n =
                                                 std::min<size_t>(65536, body->size() - at);
                                             return sink.write(body->data() + at, n);
                                         });
            });
        http_.server.Get(R"(/pkg/([\w. ]+))",
                         [this](const httplib::Request& req, httplib::Response& res) {
                             const std::string file = packages_.File(req.matches[1]);
                             if (!fs::exists(file)) {
                                 res.status = 404;
                                 return;
                             }
                             res.set_content(ReadFile(file), "application/zip");
                         });
        EXPECT_TRUE(http_.Start());
    }

    std::string Base() const { return http_.BaseUrl(); }
    std::string PackagePath(const std::string& name) const { return packages_.File(name); }
    void ReleaseSlow() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slowReleased_ = true;
        }
        changed_.notify_all();
    }
    void SetMainPage(std::string html) { mainPage_ = std::move(html); }
    // The status the main page is answered with (200 unless set).
    void SetMainPageStatus(int status) { mainPageStatus_ = status; }
    // While held, requests for the main page wait for ReleaseMainPage before they are answered.
    void HoldMainPage() { holdMainPage_ = true; }
    void ReleaseMainPage() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            holdMainPage_ = false;
        }
        changed_.notify_all();
    }

    // A zip served as /pkg/<zipName> holding `entry` (a path inside the archive): a shell
    // script that writes `marker` when it runs.
    void AddPackage(const std::string& zipName, const std::string& entry,
                    const std::string& marker) {
        testsupport::TempDir stage;
        const std::string script = stage.File(entry);
        WriteFile(script, "#!/bin/sh\necho ran > '" + marker + "'\n");
        fs::permissions(script, fs::perms::owner_all);
        const auto zipped = testsupport::RunChild(
            {"sh", "-c",
             "cd '" + stage.path() + "' && zip -q -r '" + packages_.File(zipName) + "' ."},
            20s);
        ASSERT_TRUE(zipped.exited && zipped.exitCode == 0) << zipped.output;
    }

    // Waits until `kind` has been reported `count` times; all values of that kind.
    std::vector<std::string> WaitFor(const std::string& kind, size_t count,
                                     std::chrono::milliseconds timeout = 30s) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return notes_[kind].size() >= count; });
        return notes_[kind];
    }
    std::vector<std::string> Values(const std::string& kind) {
        std::lock_guard<std::mutex> lock(mutex_);
        return notes_[kind];
    }

  private:
    void Record(const std::string& kind, const std::string& value) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            notes_[kind].push_back(value);
        }
        changed_.notify_all();
    }

    loopback::HttplibServer http_;
    testsupport::TempDir packages_;
    std::string mainPage_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, std::vector<std::string>> notes_;
    bool holdMainPage_ = false;
    std::atomic<int> mainPageStatus_{200};
    bool slowReleased_ = false;
};

// Page script shared by the test pages: call() runs a command and returns its result;
// note() reports to the site; every notification is reported as kind "notify".
std::string PageHead(const std::string& siteBase) {
    return R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>MapleNook</title></head>
<body><div id="b"></div><script>
var SITE = ')" +
           siteBase + R"(';
// One report at a time, so the site receives them in the order they were made.
var chain = Promise.resolve();
function note(k, v) {
  var url = SITE + '/note?k=' + encodeURIComponent(k) + '&v=' + encodeURIComponent(v);
  chain = chain.then(function () { return fetch(url, {mode: 'no-cors'}).catch(function () {}); });
}
var el = document.getElementById('b');
function call(text) {
  el.setAttribute('param', text); el.removeAttribute('result');
  window.external.Call(el); return el.getAttribute('result');
}
var waiters = [];
function hostNotify(event, data, state) {
  note('notify', event + '|' + data + '|' + state);
}
)";
}

class MainPanelEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        if (!MAPLENOOK_TEST_HOOKS) GTEST_SKIP() << "the program must take the test's addresses";
        fs::create_directories(cache_);
        home_ = folder_.File("home");
        fs::create_directories(home_);
    }

    void WriteSettings(const std::string& extra = {}) {
        folder_.WriteSettings("[app]\nwnd=0\ncachedir=" + cache_ +
                              "\n[resource]\ntotal=1\n1=\\res\\skin\\bk.png\n"
                              "[mainpanel]\ntitle=MapleNook\nbkimage=1\n" +
                              extra);
    }

    std::unique_ptr<testsupport::ChildProcess> Start(const std::string& pageUrl,
                                                     const testsupport::EnvOverrides& extra = {}) {
        auto env = folder_.Env();
        env.insert(env.end(), extra.begin(), extra.end());
        env.push_back({"MAPLENOOK_TEST_PAGE_URL", pageUrl});
        env.push_back({"MAPLENOOK_TEST_STATS_URL", site_.Base()});
        env.push_back({"XDG_CONFIG_HOME", home_ + "/config"});
        env.push_back({"XDG_DATA_HOME", home_ + "/data"});
        env.push_back({"HOME", home_});
        return std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{folder_.exe()},
                                                           env, folder_.dir());
    }

    testsupport::InstalledFolder folder_;
    MakerSite site_;
    // Never inside the installed folder: the program would not take it as a cache.
    testsupport::TempDir cacheRoot_;
    std::string cache_ = cacheRoot_.File("cache");
    std::string home_;
};

TEST_F(MainPanelEndToEnd, MainPageWithTimeQueryAndOneUsageReportThenQuit) {
    WriteSettings();
    site_.SetMainPage(PageHead(site_.Base()) +
                      "note('loaded', location.search); setTimeout(function () {"
                      " note('quit', call('app:app.quit')); }, 300);</script></body></html>");
    const auto before = static_cast<int32_t>(static_cast<uint32_t>(std::time(nullptr)));
    auto program = Start(site_.Base() + "/Brush.html");

    const auto pages = site_.WaitFor("page", 1);
    ASSERT_EQ(pages.size(), 1u) << program->Output();
    const long t = std::strtol(pages[0].c_str(), nullptr, 10);
    EXPECT_GE(t, before - 1);
    EXPECT_LE(t, before + 30);
    EXPECT_EQ(site_.WaitFor("loaded", 1).at(0), "?t=" + pages[0]);

    const auto outcome = program->Wait(30s);
    EXPECT_TRUE(outcome.exited) << outcome.output;
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    const auto reports = site_.Values("log");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "command=;ip=;mac=;os=;");
}

// The folder chooser runs a loop of its own; a termination signal ends the program all the same.
TEST_F(MainPanelEndToEnd, TerminationEndsTheProgramWhileTheFolderChooserIsOpen) {
    WriteSettings();
    site_.SetMainPage(PageHead(site_.Base()) +
                      "setTimeout(function () { call('app:app.setpath'); }, 100);"
                      "</script></body></html>");
    auto program = Start(site_.Base() + "/Brush.html");
    std::vector<unsigned long> chooser;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return !(chooser = testsupport::FindWindowsOf(program->pid(), "缓存目录")).empty(); },
        30s))
        << program->Output();
    program->Signal(SIGTERM);
    const auto outcome = program->Wait(10s);
    EXPECT_TRUE(outcome.exited) << outcome.output;
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
}

// A maker serves https: such a main page loads and may call; one that fails, or an address the
// browser reports in another spelling or refuses outright, falls back to the local page.
TEST_F(MainPanelEndToEnd, HttpsMainPagesLoadAndCallAndFailuresInAnySpellingFallBack) {
    WriteSettings();
    testsupport::TempDir keys;
    const auto made = testsupport::RunChild(
        {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", keys.File("key.pem"),
         "-out", keys.File("cert.pem")},
        60s);
    ASSERT_TRUE(made.exited && made.exitCode == 0) << made.output;
    httplib::SSLServer tls(keys.File("cert.pem").c_str(), keys.File("key.pem").c_str());
    ASSERT_TRUE(tls.is_valid());
    tls.Get("/Brush.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(
            "<!DOCTYPE html><html><body><div id='b'></div><script>"
            "var el = document.getElementById('b');"
            "function call(t) { el.setAttribute('param', t); window.external.Call(el); }"
            "call('app:app.setcookie&tls&called'); call('app:app.quit');"
            "</script></body></html>",
            "text/html; charset=utf-8");
    });
    const int port = tls.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { tls.listen_after_bind(); });
    const testsupport::EnvOverrides trust = {{"MAPLENOOK_TEST_TLS_CERT", keys.File("cert.pem")},
                                             {"MAPLENOOK_TEST_TLS_HOST", "127.0.0.1"}};
    auto program = Start("https://127.0.0.1:" + std::to_string(port) + "/Brush.html", trust);
    const auto outcome = program->Wait(60s);
    tls.stop();
    serving.join();
    EXPECT_TRUE(outcome.exited) << outcome.output;
    EXPECT_EQ(ReadSettingString(folder_.settingsPath(), "settings", "tls"), "called");

    WriteFile(folder_.File("res/web/brush.html"),
              PageHead(site_.Base()) +
                  "note('local', location.protocol);"
                  "setTimeout(function () { call('app:app.quit'); }, 300);</script></body></html>");
    const std::string unused = std::to_string(loopback::UnusedLoopbackPort());
    // Port 9 is one the browser never uses: it shows an empty page and reports no failure.
    for (const std::string& page : {"https://127.0.0.1:" + unused + "/Brush.html",
                                    "http://LOCALHOST:" + unused + "/Brush.html",
                                    std::string("http://127.0.0.1:9/Brush.html")}) {
        auto fallingBack = Start(page, trust);
        const size_t before = site_.Values("local").size();
        EXPECT_EQ(site_.WaitFor("local", before + 1).size(), before + 1) << page;
        EXPECT_TRUE(fallingBack->Wait(30s).exited) << page;
    }
}

TEST_F(MainPanelEndToEnd, RefusedMainPageFallsBackToTheLocalPage) {
    WriteSettings();
    WriteFile(folder_.File("res/web/brush.html"),
              PageHead(site_.Base()) +
                  "note('local', location.protocol + call('app:app.getpath'));"
                  "setTimeout(function () { call('app:app.quit'); }, 300);</script></body></html>");
    auto program =
        Start("http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort()) + "/Brush.html");
    const auto local = site_.WaitFor("local", 1);
    ASSERT_EQ(local.size(), 1u) << program->Output();
    EXPECT_EQ(local[0], "file:" + cache_);
    const auto outcome = program->Wait(30s);
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.output;
}

TEST_F(MainPanelEndToEnd, AMainPageOnAnotherUsersLoopbackPortIsNeverRequested) {
    testsupport::ForeignListener other;
    if (!other.Started()) GTEST_SKIP() << "cannot run a listener as uid 65534 here (not root?)";
    WriteSettings();
    // The local page asks the program to try the main page again: refused, never asked.
    WriteFile(
        folder_.File("res/web/brush.html"),
        PageHead(site_.Base()) +
            "note('local', location.protocol); call('app:app.retrymain');"
            "setTimeout(function () { call('app:app.quit'); }, 3000);</script></body></html>");
    auto program = Start("http://127.0.0.1:" + std::to_string(other.Port()) + "/Brush.html");
    EXPECT_EQ(site_.WaitFor("local", 1), std::vector<std::string>{"file:"}) << program->Output();
    // Why the local page came, then the retry's outcome.
    EXPECT_EQ(site_.WaitFor("notify", 2), (std::vector<std::string>{"mainpage|refused|undefined",
                                                                    "mainpage|refused|undefined"}))
        << program->Output();
    EXPECT_TRUE(program->Wait(30s).exited);
    EXPECT_FALSE(other.GotRequest(std::chrono::milliseconds(100)))
        << "the other user's server was asked for the page";
}

TEST_F(MainPanelEndToEnd, TheLocalPagesRetryBringsTheMainPageOnceItAnswers) {
    WriteSettings();
    site_.SetMainPageStatus(500);
    site_.SetMainPage(
        PageHead(site_.Base()) +
        "note('main', location.search.substring(0, 3));"
        "setTimeout(function () { call('app:app.quit'); }, 300);</script></body></html>");
    WriteFile(folder_.File("res/web/brush.html"),
              PageHead(site_.Base()) +
                  "note('local', location.protocol);"
                  "setTimeout(function () { call('app:app.retrymain'); }, 1500);"
                  "</script></body></html>");
    auto program = Start(site_.Base() + "/Brush.html");
    ASSERT_EQ(site_.WaitFor("local", 1), std::vector<std::string>{"file:"}) << program->Output();
    site_.SetMainPageStatus(200);
    EXPECT_EQ(site_.WaitFor("notify", 1), std::vector<std::string>{"mainpage|ok|undefined"})
        << program->Output();
    EXPECT_EQ(site_.WaitFor("main", 1), std::vector<std::string>{"?t="}) << program->Output();
    EXPECT_TRUE(program->Wait(30s).exited);
}

TEST_F(MainPanelEndToEnd, MainPageAnsweredWithAnHttpErrorFallsBackToTheLocalPage) {
    WriteSettings();
    WriteFile(folder_.File("res/web/brush.html"),
              PageHead(site_.Base()) +
                  "note('local', location.protocol);"
                  "setTimeout(function () { call('app:app.quit'); }, 300);</script></body></html>");
    // The site has no such page: its 404 answer must not be shown as the main page.
    auto program = Start(site_.Base() + "/NoSuchPage.html");
    const auto local = site_.WaitFor("local", 1);
    ASSERT_EQ(local.size(), 1u) << program->Output();
    EXPECT_EQ(local[0], "file:");
    const auto outcome = program->Wait(30s);
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.output;
}

// The web processes among the descendants of `pid`.
std::vector<pid_t> WebProcessesUnder(pid_t pid) {
    std::vector<pid_t> found;
    std::vector<pid_t> todo{pid};
    while (!todo.empty()) {
        const pid_t parent = todo.back();
        todo.pop_back();
        std::error_code error;
        for (const auto& task :
             fs::directory_iterator("/proc/" + std::to_string(parent) + "/task", error)) {
            std::istringstream children(ReadFile(task.path().string() + "/children"));
            for (pid_t child = 0; children >> child;) {
                todo.push_back(child);
                if (ReadFile("/proc/" + std::to_string(child) + "/comm")
                        .rfind("WebKitWebProces", 0) == 0)
                    found.push_back(child);
            }
        }
    }
    return found;
}

TEST_F(MainPanelEndToEnd, AKilledWebProcessBringsTheMainPageBackWithItsCommands) {
    WriteSettings();
    site_.SetMainPage(PageHead(site_.Base()) +
                      "note('loaded', call('app:app.getpath'));</script></body></html>");
    auto program = Start(site_.Base() + "/Brush.html");
    ASSERT_EQ(site_.WaitFor("loaded", 1).size(), 1u) << program->Output();
    const std::vector<pid_t> web = WebProcessesUnder(program->pid());
    ASSERT_FALSE(web.empty());
    for (pid_t pid : web) kill(pid, SIGKILL);
    const auto loaded = site_.WaitFor("loaded", 2);
    ASSERT_EQ(loaded.size(), 2u) << program->Output();
    EXPECT_EQ(loaded[1], cache_);
    EXPECT_EQ(site_.Values("page").size(), 2u);
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(10s).exitCode, 0);
}

// Three reloads in a minute, then the local page; should that end too, it comes again after a
// pause; once the minute is over, a loss reloads the main page itself. The test's minute is 20 s.
TEST_F(MainPanelEndToEnd, AWebProcessThatKeepsEndingNeverLeavesThePanelEmpty) {
    WriteSettings();
    site_.SetMainPage(PageHead(site_.Base()) + "note('loaded', '1');</script></body></html>");
    WriteFile(folder_.File("res/web/brush.html"),
              PageHead(site_.Base()) + "note('local', '1');</script></body></html>");
    auto program =
        Start(site_.Base() + "/Brush.html", {{"MAPLENOOK_TEST_RECOVERY_MINUTE_MS", "20000"}});
    ASSERT_EQ(site_.WaitFor("loaded", 1).size(), 1u) << program->Output();
    // Ends the view's web process; each time once its page has reported.
    auto killWeb = [&] {
        for (pid_t pid : WebProcessesUnder(program->pid())) kill(pid, SIGKILL);
    };
    for (size_t loads = 2; loads <= 4; ++loads) {
        killWeb();
        ASSERT_EQ(site_.WaitFor("loaded", loads).size(), loads) << program->Output();
    }
    const auto lastReload = std::chrono::steady_clock::now();
    killWeb();
    ASSERT_EQ(site_.WaitFor("local", 1).size(), 1u) << program->Output();
    // The local page's process ends too: after a pause it comes again.
    killWeb();
    EXPECT_EQ(site_.WaitFor("local", 2, 15s).size(), 2u) << program->Output();
    EXPECT_NE(program->Output().find("next try in"), std::string::npos);
    EXPECT_EQ(site_.Values("loaded").size(), 4u);
    // A minute after the last reload the budget has renewed: the main page itself comes back.
    std::this_thread::sleep_until(lastReload + 21s);
    killWeb();
    EXPECT_EQ(site_.WaitFor("loaded", 5).size(), 5u) << program->Output();
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(10s).exitCode, 0);
}

TEST_F(MainPanelEndToEnd, APanelHiddenInTheTrayStaysHiddenWhenItsPageComesBack) {
    testsupport::TrayHostStandIn tray;  // hiding goes to the tray, not the taskbar
    ASSERT_TRUE(tray.Owning());
    WriteSettings();
    // The first load hides the panel once it shows; the reload only reports.
    site_.SetMainPage(PageHead(site_.Base()) + R"(
if (call('app:app.getcookie&hid') === '1') note('loaded', 'again');
else (function poll() {
  if (document.visibilityState !== 'visible') return setTimeout(poll, 50);
  call('app:app.setcookie&hid&1'); call('app:panel.hide'); note('loaded', 'first');
})();
</script></body></html>)");
    auto program = Start(site_.Base() + "/Brush.html");
    ASSERT_EQ(site_.WaitFor("loaded", 1).size(), 1u) << program->Output();
    const long handle = ReadSettingInt(folder_.settingsPath(), "app", "wnd");
    ASSERT_TRUE(
        testsupport::WaitUntil([&] { return !testsupport::IsWindowViewable(handle); }, 30s));

    for (pid_t pid : WebProcessesUnder(program->pid())) kill(pid, SIGKILL);
    const auto loaded = site_.WaitFor("loaded", 2);
    ASSERT_EQ(loaded.size(), 2u) << program->Output();
    EXPECT_EQ(loaded[1], "again");
    EXPECT_FALSE(testsupport::WaitUntil([&] { return testsupport::IsWindowViewable(handle); }, 5s));
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(10s).exitCode, 0);
}

// The window's geometry as the X server reports it: left, top, width, height.
std::vector<long> Geometry(long window) {
    const auto info = testsupport::RunChild({"xwininfo", "-id", std::to_string(window)}, 10s);
    std::vector<long> values;
    for (const char* key :
         {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"}) {
        const auto at = info.output.find(key);
        values.push_back(
            at == std::string::npos
                ? -1
                : std::strtol(info.output.c_str() + at + std::strlen(key), nullptr, 10));
    }
    return values;
}

TEST_F(MainPanelEndToEnd, OffsetsFromTheSettingsPlaceThePanelAtTheScreenCorner) {
    WriteSettings("x=10\ny=0\n");
    auto program =
        Start("http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort()) + "/Brush.html");
    long handle = 0;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            handle = ReadSettingInt(folder_.settingsPath(), "app", "wnd");
            return handle != 0 && testsupport::IsWindowViewable(handle);
        },
        30s))
        << program->Output();
    const auto g = Geometry(handle);
    ASSERT_EQ(g.size(), 4u);
    EXPECT_EQ(g[0] + g[2], 1280 - 10) << "right edge 10 pixels from the screen's";
    EXPECT_EQ(g[1] + g[3], 800) << "bottom edge on the screen's";
    program->Signal(15);
    EXPECT_EQ(program->Wait(10s).exitCode, 0);
}

TEST_F(MainPanelEndToEnd, SplashShowsWhileTheMainPageLoadsAndGoesWhenItCompletes) {
    testsupport::WriteSolidImage(folder_.File("res/skin/plash.png"), "png", 200, 120, 0xFF1565C0,
                                 false);
    folder_.WriteSettings("[app]\nwnd=0\ncachedir=" + cache_ +
                          "\n[resource]\ntotal=2\n1=\\res\\skin\\bk.png\n"
                          "2=\\res\\skin\\plash.png\n"
                          "[mainpanel]\ntitle=MapleNook\nbkimage=1\n"
                          "[plash]\ntitle=MapleNook Splash\nbkimage=2\n");
    site_.SetMainPage(PageHead(site_.Base()) + "note('loaded', '1');</script></body></html>");
    site_.HoldMainPage();
    auto program = Start(site_.Base() + "/Brush.html");

    // The page is asked for and held: the splash is up, centred, the main panel not yet shown.
    ASSERT_EQ(site_.WaitFor("page", 1).size(), 1u) << program->Output();
    unsigned long splash = 0;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            const auto found = testsupport::FindWindowsOf(program->pid(), "MapleNook Splash");
            splash = found.empty() ? 0 : found[0];
            return splash != 0 && testsupport::IsWindowViewable(splash);
        },
        30s))
        << program->Output();
    EXPECT_EQ(Geometry(static_cast<long>(splash)), (std::vector<long>{540, 340, 200, 120}));
    long main = 0;
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return (main = ReadSettingInt(folder_.settingsPath(), "app", "wnd")) != 0; }, 30s));
    EXPECT_FALSE(testsupport::IsWindowViewable(main));
    EXPECT_TRUE(testsupport::IsWindowViewable(splash)) << "still loading";

    site_.ReleaseMainPage();
    ASSERT_EQ(site_.WaitFor("loaded", 1).size(), 1u) << program->Output();
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] {
            return !testsupport::IsWindowViewable(splash) && testsupport::IsWindowViewable(main);
        },
        30s));
    program->Signal(15);
    EXPECT_EQ(program->Wait(10s).exitCode, 0);
}

TEST_F(MainPanelEndToEnd, PageDrivesTheCommandsAndThePackageWorkflow) {
    // With a tray to come back from, a started package hides the panel.
    testsupport::TrayHostStandIn tray;
    ASSERT_TRUE(tray.Owning());
    WriteSettings("url=\n");
    const std::string base = site_.Base();
    site_.AddPackage("tool.zip", "tool.sh", folder_.File("tool.ran"));
    site_.AddPackage("nested.zip", "nested/nested.sh", folder_.File("nested.ran"));
    site_.AddPackage("fresh.zip", "fresh.sh", folder_.File("fresh.ran"));
    // A package already in the cache, put there as the program puts packages.
    site_.AddPackage("here.zip", "here.sh", folder_.File("here.ran"));
    ASSERT_EQ(ExtractZip(site_.PackagePath("here.zip"), cache_ + "/here/"), ExtractResult::Done);

    // Each step waits for the notifications of the one before, so the sequences stay apart.
    site_.SetMainPage(PageHead(base) + R"(
var steps = [
  function () { note('r', 'getpath=' + call('app:app.getpath'));
                note('r', 'getcookie-none=[' + call('app:app.getcookie&nothing') + ']');
                note('r', 'setcookie=' + call('app:app.setcookie&colour&green'));
                note('r', 'getcookie=' + call('app:app.getcookie&colour'));
                note('r', 'unknown=' + call('app:app.nothing'));
                note('r', 'boot-on=' + call('app:app.setboot&1'));
                note('r', 'autoboot=' + call('app:app.getcookie&autoboot'));
                note('r', 'move=' + call('app:panel.move&5&7'));
                note('r', 'pop1=' + call('app:panel.pop'));
                note('r', 'pop2=' + call('app:panel.pop'));
                note('r', 'nourl=' + call('app:app.runbrush&tool.exe&tool.zip'));
                note('r', 'here=' + call('app:app.runbrush&here.sh&)" +
                      base + R"(/pkg/here.zip')); },
  // Hiding the window reaches the page's visibility a moment later; give it a few seconds.
  function () { whenHidden(function (state) {
                  note('vis', state);
                  call('app:app.runbrush&tool.sh&)" +
                      base + R"(/pkg/tool.zip'); }); },
  function () { call('app:app.runbrush&gone.sh&)" +
                      base + R"(/pkg/gone.zip'); },
  function () { call('app:app.runbrush&nested.sh&)" +
                      base + R"(/pkg/nested.zip'); },
  function () { call('app:app.runbrush&tool.sh&)" +
                      base + R"(/pkg/tool.zip'); },
  function () { note('r', 'check=' + call('app:app.checkapp&fresh.sh&)" +
                      base +
                      R"(/pkg/fresh.zip&1.0')); },
  function () { call('app:app.checkapp&fresh.sh&)" +
                      base + R"(/pkg/fresh.zip&1.0');
                call('app:app.checkapp&fresh.sh&)" +
                      base + R"(/pkg/fresh.zip&2.0'); },
  function () { note('r', 'boot-off=' + call('app:app.setboot&0'));
                note('r', 'done=1'); },
];
var at = 0;
function next() { if (at < steps.length) steps[at++](); }
function when(state, done) {
  var start = Date.now();
  (function poll() {
    if (document.visibilityState === state || Date.now() - start > 5000)
      done(document.visibilityState);
    else setTimeout(poll, 50);
  })();
}
function whenHidden(done) { when('hidden', done); }
var realNotify = hostNotify;
hostNotify = function (e, d, s) {
  realNotify(e, d, s);
  if (s === 'run' || s === 'run.error' || s === 'download.error' ||
      (s === 'unzip' && d === 'fresh')) setTimeout(next, s === 'unzip' ? 1500 : 50);
};
// Start once the finished load has shown the panel, so that no step's hiding comes first.
when('visible', function () { next(); });
</script></body></html>)");
    auto program = Start(base + "/Brush.html");

    // The autostart entry exists between "app.setboot&1" and "app.setboot&0".
    ASSERT_GE(site_.WaitFor("r", 7).size(), 7u) << program->Output();
    EXPECT_TRUE(fs::exists(home_ + "/config/autostart/MapleNook.desktop"));

    auto results = site_.WaitFor("r", 15);
    ASSERT_GE(results.size(), 15u) << program->Output();
    const std::vector<std::string> expectedResults{
        "getpath=" + cache_, "getcookie-none=[]", "setcookie=-1", "getcookie=green", "unknown=-1",
        "boot-on=-1",        "autoboot=1",        "move=-1",      "pop1=-1",         "pop2=-1",
        "nourl=-1",          "here=-1",           "check=-1",     "boot-off=-1",     "done=1"};
    EXPECT_EQ(results, expectedResults);

    const std::vector<std::string> expectedNotes{
        "runbrush|here|run",
        "runbrush|tool|download",
        "runbrush|tool|unzip",
        "runbrush|tool|run",
        "runbrush|gone|download",
        "runbrush|gone|download.error",
        "runbrush|nested|download",
        "runbrush|nested|unzip",
        "runbrush|nested|run.error",
        "runbrush|tool|run",
        "runbrush|fresh|download",
        "runbrush|fresh|unzip",
        // The same version again fetches nothing; a new one fetches again.
        "runbrush|fresh|download",
        "runbrush|fresh|unzip",
    };
    EXPECT_EQ(site_.WaitFor("notify", expectedNotes.size()), expectedNotes);

    // The programs really ran; the one in a sub-folder did not; the prefetch did not run.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return fs::exists(folder_.File("tool.ran")); }, 10s));
    EXPECT_TRUE(fs::exists(folder_.File("here.ran")));
    EXPECT_FALSE(fs::exists(folder_.File("nested.ran")));
    EXPECT_FALSE(fs::exists(folder_.File("fresh.ran")));
    EXPECT_TRUE(fs::exists(cache_ + "/fresh/fresh.sh"));
    // Every downloaded archive is gone once its extraction ended, well or not.
    const std::string staging = cache_ + "/.maplenook";
    EXPECT_TRUE(fs::is_directory(staging));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return NothingStaged(staging); }, 10s));
    // After "run" the main panel is hidden.
    EXPECT_EQ(site_.Values("vis"), std::vector<std::string>{"hidden"});

    // Settings the commands wrote.
    const std::string cfg = ReadFile(folder_.settingsPath());
    EXPECT_NE(cfg.find("colour=green"), std::string::npos) << cfg;
    EXPECT_NE(cfg.find("prever=2.0"), std::string::npos) << cfg;
    EXPECT_NE(cfg.find("autoboot=0"), std::string::npos) << cfg;
    // The autostart entry was made and removed again.
    EXPECT_FALSE(fs::exists(home_ + "/config/autostart/MapleNook.desktop"));

    program->Signal(15);
    program->Wait(10s);
}

// An empty cache setting: packages land whole in the user's cache folder, whatever their
// addresses say; a package that cannot be checked is never present; quitting during a
// download leaves no staging file behind.
TEST_F(MainPanelEndToEnd, PackagesGoWholeToTheUserCacheAndQuittingLeavesNoStaging) {
    folder_.WriteSettings(
        "[app]\nwnd=0\ncachedir=\n[resource]\ntotal=1\n1=\\res\\skin\\bk.png\n"
        "[mainpanel]\ntitle=MapleNook\nbkimage=1\nurl=\n");
    const std::string base = site_.Base();
    site_.AddPackage("tool.zip", "tool.sh", folder_.File("tool.ran"));
    site_.AddPackage("blank tool.zip", "blank.sh", folder_.File("blank.ran"));
    site_.AddPackage("cfg.ini", "conf.sh", folder_.File("conf.ran"));
    const auto bzip2 = testsupport::RunChild(
        {"python3", "-c",
         "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
         "    z.writestr('bad.sh', b'#!/bin/sh\\n' * 50, compress_type=zipfile.ZIP_BZIP2)\n",
         site_.PackagePath("bad.zip")},
        20s);
    ASSERT_TRUE(bzip2.exited && bzip2.exitCode == 0) << bzip2.output;

    site_.SetMainPage(PageHead(base) + R"(
function run(file, path) { call('app:app.runbrush&' + file + '&' + SITE + path); }
var steps = [
  function () { run('.exe', '/pkg/tool.zip'); run('tool.sh', '/pkg/tool.zip'); },
  function () { run('bad.sh', '/pkg/bad.zip'); },
  function () { run('blank.sh', '/pkg/blank tool.zip'); },
  function () { run('conf.sh', '/pkg/cfg.ini'); },
  function () { run('slow.sh', '/slow/slow.zip'); },
];
var at = 0;
function next() { if (at < steps.length) steps[at++](); }
var realNotify = hostNotify;
hostNotify = function (e, d, s) {
  realNotify(e, d, s);
  if (d === 'slow' && s === 'download') setTimeout(function () { call('app:app.quit'); }, 200);
  else if (s === 'run' || s === 'run.error') setTimeout(next, 50);
};
next();
</script></body></html>)");
    auto program = Start(base + "/Brush.html");

    const std::vector<std::string> expectedNotes{
        "runbrush|tool|download",  "runbrush|tool|unzip",  "runbrush|tool|run",
        "runbrush|bad|download",   "runbrush|bad|unzip",   "runbrush|bad|run.error",
        "runbrush|blank|download", "runbrush|blank|unzip", "runbrush|blank|run",
        "runbrush|conf|download",  "runbrush|conf|unzip",  "runbrush|conf|run",
        "runbrush|slow|download"};
    EXPECT_EQ(site_.WaitFor("notify", expectedNotes.size()), expectedNotes) << program->Output();
    const auto outcome = program->Wait(30s);
    site_.ReleaseSlow();
    EXPECT_TRUE(outcome.exited) << outcome.output;

    const std::string cache = home_ + "/.cache/MapleNook/packages";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(cache))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".maplenook", "blank", "conf", "tool"}));
    EXPECT_EQ(fs::status(cache).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return fs::exists(folder_.File("conf.ran")); }, 10s));
    EXPECT_FALSE(fs::exists(folder_.File("bad.ran")));
    // Nothing reached the installed folder.
    EXPECT_NE(ReadFile(folder_.settingsPath()).find("bkimage=1"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder_.File("tool")));
}

TEST_F(MainPanelEndToEnd, APageThatAsksGetsProgressCausesAndCancel) {
    WriteSettings();
    site_.AddPackage("small.zip", "small.sh", folder_.File("small.ran"));
    // A big package: a script and 3 MiB of noise, stored, so the download takes a while.
    {
        testsupport::TempDir stage;
        WriteFile(stage.File("big.sh"),
                  "#!/bin/sh\necho ran > '" + folder_.File("big.ran") + "'\n");
        fs::permissions(stage.File("big.sh"), fs::perms::owner_all);
        const auto made = testsupport::RunChild(
            {"sh", "-c",
             "cd '" + stage.path() + "' && head -c 3145728 /dev/urandom > noise && zip -q -0 '" +
                 site_.PackagePath("big.zip") + "' big.sh noise"},
            30s);
        ASSERT_TRUE(made.exited && made.exitCode == 0) << made.output;
    }
    WriteFile(site_.PackagePath("bad.zip"), "PK\x03\x04 this is not an archive at all");
    const std::string base = site_.Base();
    // Every notification with all its arguments; the first progress of "big" cancels it, and
    // each package starts when the one before has ended.
    site_.SetMainPage(PageHead(base) + R"(
var cancelled = false;
var queue = [['small.sh', 'throttled/small.zip'], ['gone.sh', 'pkg/gone.zip'],
             ['bad.sh', 'pkg/bad.zip'], ['big.sh', 'throttled/big.zip']];
function next() { var p = queue.shift();
  if (p) call('app:app.runbrush&' + p[0] + '&' + SITE + '/' + p[1]); else note('done', '1'); }
hostNotify = function () {
  var args = Array.prototype.slice.call(arguments);
  note('n', args.join('|'));
  if (args[0] === 'brushprogress' && args[1] === 'big' && !cancelled) {
    cancelled = true; note('cancel', call('app:app.cancelbrush&big.sh'));
  }
  if (args[0] === 'runbrush' && /^(run|run\.error|download\.error)$/.test(args[2])) next();
};
note('progress', call('app:app.progress&1'));
next();
</script></body></html>)");
    auto program = Start(base + "/Brush.html");
    ASSERT_EQ(site_.WaitFor("done", 1, 90s).size(), 1u) << program->Output();
    const auto notes = site_.Values("n");
    EXPECT_EQ(site_.Values("progress"), std::vector<std::string>{"-1"});
    EXPECT_EQ(site_.Values("cancel"), std::vector<std::string>{"-1"});

    // The notes of one event and package, without the event's name.
    auto seen = [&](const std::string& event, const std::string& base) {
        std::vector<std::string> found;
        for (const auto& n : notes)
            if (n.rfind(event + "|" + base + "|", 0) == 0)
                found.push_back(n.substr(event.size() + 1));
        return found;
    };
    auto runbrush = [&](const std::string& base) { return seen("runbrush", base); };
    auto progress = [&](const std::string& base) { return seen("brushprogress", base); };
    EXPECT_EQ(runbrush("small"),
              (std::vector<std::string>{"small|download", "small|unzip", "small|run"}));
    const auto smallSize = std::to_string(fs::file_size(site_.PackagePath("small.zip")));
    const auto small = progress("small");
    const std::string downloaded = "small|" + smallSize + "|" + smallSize + "|download";
    const auto lastDownload = std::find_if(small.rbegin(), small.rend(),
                                           [](const auto& p) { return p.ends_with("|download"); });
    ASSERT_NE(lastDownload, small.rend());
    EXPECT_EQ(*lastDownload, downloaded);
    EXPECT_EQ(std::count(small.begin(), small.end(), downloaded), 1) << "one final call";
    // Extraction reports too, after the download: the script's bytes, done equal to total last.
    const auto script = std::to_string(ReadFile(cache_ + "/small/small.sh").size());
    EXPECT_EQ(small.back(), "small|" + script + "|" + script + "|unzip");
    EXPECT_EQ(runbrush("gone"),
              (std::vector<std::string>{"gone|download", "gone|download.error|http:404"}));
    EXPECT_EQ(runbrush("bad"),
              (std::vector<std::string>{"bad|download", "bad|unzip", "bad|run.error|archive"}));
    // Cancelled mid-way: progress below the whole size, the cause, nothing extracted or run,
    // and no partial file left in the cache.
    EXPECT_EQ(runbrush("big"),
              (std::vector<std::string>{"big|download", "big|download.error|cancelled"}));
    const auto bigSize = std::to_string(fs::file_size(site_.PackagePath("big.zip")));
    ASSERT_FALSE(progress("big").empty());
    for (const auto& p : progress("big")) {
        EXPECT_EQ(p.find("big|" + bigSize + "|"), std::string::npos) << p;
        EXPECT_NE(p.find("|" + bigSize + "|download"), std::string::npos) << p;
    }
    EXPECT_FALSE(fs::exists(folder_.File("big.ran")));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return fs::exists(folder_.File("small.ran")); }, 10s));
    // Nothing staged is left, and the staging folder is the only hidden entry.
    for (const auto& entry : fs::directory_iterator(cache_)) {
        if (entry.path().filename() == ".maplenook") continue;
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
    EXPECT_TRUE(NothingStaged(cache_ + "/.maplenook"));
    EXPECT_FALSE(fs::exists(cache_ + "/big"));

    site_.SetMainPage(PageHead(base) + "call('app:app.quit');</script></body></html>");
    program->Signal(15);
    program->Wait(20s);
}

}  // namespace
