// Start to visible page, and idle memory, of the installed program (local page: nothing listens
// at the main page address) against WebKitGTK's MiniBrowser showing the same page, in one run.
// Needs a display (run under xvfb-run).   startup_bench [runs]
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "ChildRun.h"
#include "InstalledFolder.h"
#include "LoopbackHttp.h"
#include "TempDir.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const char* kMiniBrowser = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser";

// Resident memory of one process in KiB (VmRSS), 0 when it cannot be read.
long ResidentKiB(long pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

class LoadSignal {
  public:
    LoadSignal() {
        http_.server.Get("/loaded", [this](const httplib::Request&, httplib::Response& res) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++count_;
            }
            changed_.notify_all();
            res.set_header("Access-Control-Allow-Origin", "*");
            res.set_content("ok", "text/plain");
        });
        http_.Start();
    }
    std::string Url() const { return http_.BaseUrl() + "/loaded"; }
    int Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }
    bool WaitBeyond(int seen, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return count_ > seen; });
    }

  private:
    loopback::HttplibServer http_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!MAPLENOOK_TEST_HOOKS) {
        std::fprintf(stderr, "startup_bench needs a build with MAPLENOOK_TEST_HOOKS\n");
        return 2;
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "startup_bench needs a display (xvfb-run)\n");
        return 2;
    }
    LoadSignal signal;

    // The program's own local page, telling the bench when it has loaded.
    std::string page =
        testsupport::ReadFile(std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/web/brush.html");
    const std::string reporter = "<script>window.addEventListener('load', function () { fetch('" +
                                 signal.Url() + "', {mode: 'no-cors'}); });</script></body>";
    page.replace(page.rfind("</body>"), 7, reporter);

    testsupport::InstalledFolder folder;
    testsupport::WriteFile(folder.File("res/web/brush.html"), page);
    testsupport::WriteFile(
        folder.File("res/skin/mainpanel.png"),
        testsupport::ReadFile(std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/skin/mainpanel.png"));
    folder.WriteSettings(
        "[app]\nwnd=0\n[resource]\ntotal=1\n1=\\res\\skin\\mainpanel.png\n"
        "[mainpanel]\ntitle=MapleNook\nbkimage=1\nbkmode=4\nheadheight=32\n");
    testsupport::TempDir home;
    auto env = folder.Env();
    env.push_back(
        {"MAPLENOOK_TEST_PAGE_URL",
         "http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort()) + "/Brush.html"});
    env.push_back({"MAPLENOOK_TEST_STATS_URL",
                   "http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort())});
    env.push_back({"XDG_CONFIG_HOME", home.File("config")});
    env.push_back({"XDG_DATA_HOME", home.File("data")});
    const std::string pageUrl = "file://" + folder.File("res/web/brush.html");

    std::vector<double> oursMs, peerMs, oursKiB, peerKiB;
    for (int i = 0; i < runs; ++i) {
        for (int which = 0; which < 2; ++which) {
            const int seen = signal.Count();
            const auto start = Clock::now();
            std::unique_ptr<testsupport::ChildProcess> child;
            if (which == 0)
                child = std::make_unique<testsupport::ChildProcess>(
                    std::vector<std::string>{folder.exe()}, env, folder.dir());
            else
                child = std::make_unique<testsupport::ChildProcess>(
                    std::vector<std::string>{kMiniBrowser, pageUrl},
                    testsupport::EnvOverrides{{"XDG_DATA_HOME", home.File("data")}});
            if (!signal.WaitBeyond(seen, 30s)) {
                std::fprintf(stderr, "%s did not load the page:\n%s\n",
                             which == 0 ? "maplenook" : "MiniBrowser", child->Output().c_str());
                return 1;
            }
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            std::this_thread::sleep_for(2s);  // idle
            const long kib = ResidentKiB(child->pid());
            (which == 0 ? oursMs : peerMs).push_back(ms);
            (which == 0 ? oursKiB : peerKiB).push_back(static_cast<double>(kib));
            child->Signal(SIGTERM);
            child->Wait(5s);
        }
    }

    const double a = Median(oursMs), b = Median(peerMs);
    const double ra = Median(oursKiB), rb = Median(peerKiB);
    std::printf("start to loaded local page (%d runs, medians)\n", runs);
    std::printf("  maplenook        %8.1f ms\n", a);
    std::printf("  MiniBrowser      %8.1f ms\n", b);
    std::printf("  ratio            %8.3f  (target <= 1.1)\n", a / b);
    std::printf("idle resident memory of the UI process\n");
    std::printf("  maplenook        %8.0f KiB\n", ra);
    std::printf("  MiniBrowser      %8.0f KiB\n", rb);
    std::printf("  ratio            %8.3f  (target <= 1.0)\n", ra / rb);
    return 0;
}
