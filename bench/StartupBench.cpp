// Start to loaded page, and idle memory, of the installed program (local page: nothing listens
// at the main page address) against WebKitGTK's MiniBrowser showing the same page, in one run.
// Memory is the proportional set size (PSS) of the whole process tree: the UI process and the
// web and network processes it started. MiniBrowser's window is resized to the size of
// MapleNook's main panel before the memory is read. CPU time is that of the whole tree when the
// page reports it has loaded. Needs a display (run under xvfb-run).   StartupBench [rounds]
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchCommon.h"
#include "BuildConfig.h"
#include "ChildRun.h"
#include "InstalledFolder.h"
#include "LoopbackHttp.h"
#include "TempDir.h"
#include "X11Windows.h"

// Last: Xlib defines names (Success, Status) that other headers use.
#include <X11/Xlib.h>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const char* kMiniBrowser = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser";

// Proportional set size of the processes in KiB (shared pages split among their users).
long TreePssKiB(const std::vector<long>& tree) {
    long total = 0;
    for (long pid : tree) {
        std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
        std::string line;
        while (std::getline(rollup, line))
            if (line.rfind("Pss:", 0) == 0) total += std::atol(line.c_str() + 4);
    }
    return total;
}

// User + system seconds the processes have used so far.
double TreeCpuSeconds(const std::vector<long>& tree) {
    double total = 0;
    for (long pid : tree) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        std::getline(stat, text);
        const auto close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        unsigned long long ticks = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14 || i == 15) ticks += std::stoull(field);
            if (i == 15) break;
        }
        total += static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return total;
}

// The largest viewable top-level window of the process, with its size.
struct WindowSize {
    unsigned long window = 0;
    int width = 0, height = 0;
};

WindowSize MainWindowOf(long pid) {
    WindowSize best;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return best;
    for (unsigned long window : testsupport::FindWindowsOf(static_cast<pid_t>(pid))) {
        XWindowAttributes attributes{};
        if (!testsupport::IsWindowViewable(window) ||
            !XGetWindowAttributes(display, window, &attributes))
            continue;
        if (attributes.width * attributes.height > best.width * best.height)
            best = {window, attributes.width, attributes.height};
    }
    XCloseDisplay(display);
    return best;
}

// Waits up to ten seconds for the window to be shown.
WindowSize WaitForMainWindow(long pid) {
    for (int i = 0; i < 100; ++i) {
        const auto found = MainWindowOf(pid);
        if (found.window != 0) return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

void Resize(unsigned long window, int width, int height) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    XResizeWindow(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display, False);
    XCloseDisplay(display);
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

    bench::Series times;
    std::vector<double> oursKiB, peerKiB, ratioKiB;
    WindowSize panel, browserSize;
    for (int i = 0; i < runs; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            const int which = (turn == 0) == (i % 2 == 0) ? 0 : 1;  // who goes first alternates
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
            bench::Cost cost;
            cost.wall = std::chrono::duration<double>(Clock::now() - start).count();
            cost.cpu = TreeCpuSeconds(bench::ProcessTree(child->pid()));
            if (which == 0) {
                panel = WaitForMainWindow(child->pid());
            } else {
                const auto browser = WaitForMainWindow(child->pid());
                if (browser.window == 0 || panel.width == 0) {
                    std::fprintf(stderr, "no window to compare sizes with (%dx%d, %dx%d)\n",
                                 panel.width, panel.height, browser.width, browser.height);
                    return 1;
                }
                Resize(browser.window, panel.width, panel.height);
            }
            std::this_thread::sleep_for(3s);  // idle, after any re-layout
            const auto tree = bench::ProcessTree(child->pid());
            const long kib = TreePssKiB(tree);
            if (which == 1) browserSize = MainWindowOf(child->pid());
            (which == 0 ? times.ours : times.peer).push_back(cost);
            (which == 0 ? oursKiB : peerKiB).push_back(static_cast<double>(kib));
            std::printf("  %s: %zu processes, %ld KiB PSS\n",
                        which == 0 ? "maplenook  " : "MiniBrowser", tree.size(), kib);
            child->Signal(SIGTERM);
            child->Wait(5s);
        }
        ratioKiB.push_back(oursKiB.back() / peerKiB.back());
    }

    bench::Print("start to loaded local page, CPU of the whole process tree", "maplenook",
                 "MiniBrowser", times);
    const auto a = bench::SpreadOf(oursKiB), b = bench::SpreadOf(peerKiB),
               r = bench::SpreadOf(ratioKiB);
    std::printf(
        "idle PSS of the whole process tree, windows %dx%d and %dx%d%s\n", panel.width,
        panel.height, browserSize.width, browserSize.height,
        browserSize.width > panel.width ? " (MiniBrowser's narrowest, for its toolbar)" : "");
    std::printf("  maplenook    %9.0f %9.0f %9.0f KiB (min median max)\n", a.min, a.median, a.max);
    std::printf("  MiniBrowser  %9.0f %9.0f %9.0f KiB\n", b.min, b.median, b.max);
    std::printf("  ratio MapleNook / peer  %7.3f %7.3f %7.3f   (lower is better)\n", r.min,
                r.median, r.max);
    return 0;
}
