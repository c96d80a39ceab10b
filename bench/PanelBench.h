// What the benchmarks of the installed program against WebKitGTK's MiniBrowser share: an
// installed folder whose main page is the given address, a loopback listener the pages call when
// they have loaded, the CPU time, memory and context switches of a process tree, and the windows
// the sides show. Needs a display (run under xvfb-run) and a build with the test hooks.
#pragma once

#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
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

namespace panelbench {

inline const char* kMiniBrowser = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser";

// False, with the reason printed, when the program cannot be measured here.
inline bool CanRun(const char* name) {
    if (!MAPLENOOK_TEST_HOOKS) {
        std::fprintf(stderr, "%s needs a build with MAPLENOOK_TEST_HOOKS\n", name);
        return false;
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "%s needs a display (xvfb-run)\n", name);
        return false;
    }
    return true;
}

// Proportional set size of the processes in KiB (shared pages split among their users).
inline long TreePssKiB(const std::vector<long>& tree) {
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
inline double TreeCpuSeconds(const std::vector<long>& tree) {
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

// Context switches (voluntary and not) of every live thread of the processes, by thread:
// "pid/tid name" to its count so far.
inline std::map<std::string, unsigned long long> ThreadSwitches(const std::vector<long>& tree) {
    std::map<std::string, unsigned long long> counts;
    bench::ForEachThread(tree, [&](long pid, const std::string& tid, const std::string& task) {
        std::ifstream status(task + "/status");
        std::string line, name;
        unsigned long long switches = 0;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0) name = line.substr(line.find_first_not_of(" \t", 5));
            if (line.find("ctxt_switches:") != std::string::npos)
                switches += std::strtoull(line.c_str() + line.find(':') + 1, nullptr, 10);
        }
        counts[std::to_string(pid) + "/" + tid + " " + name] = switches;
    });
    return counts;
}

// The switches made between two readings; a thread that started in between counts from zero
// (one that ended in between is lost with its counts).
inline std::map<std::string, unsigned long long> SwitchesBetween(
    const std::map<std::string, unsigned long long>& before,
    const std::map<std::string, unsigned long long>& after) {
    std::map<std::string, unsigned long long> made;
    for (const auto& [thread, count] : after) {
        const auto it = before.find(thread);
        const unsigned long long start = it == before.end() ? 0 : it->second;
        if (count > start) made[thread] = count - start;
    }
    return made;
}

// The largest viewable top-level window of the process, with its size.
struct WindowSize {
    unsigned long window = 0;
    int width = 0, height = 0;
};

inline WindowSize MainWindowOf(long pid) {
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
inline WindowSize WaitForMainWindow(long pid) {
    for (int i = 0; i < 100; ++i) {
        const auto found = MainWindowOf(pid);
        if (found.window != 0) return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

inline void Resize(unsigned long window, int width, int height) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    XResizeWindow(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display, False);
    XCloseDisplay(display);
}

// A loopback server the pages tell when they have loaded.
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
    }
    void Start() { http_.Start(); }
    std::string Url() const { return http_.BaseUrl() + "/loaded"; }
    // A script, placed before "</body>", that calls this listener once the page has loaded.
    std::string Reporter() const {
        return "<script>window.addEventListener('load', function () { fetch('" + Url() +
               "', {mode: 'no-cors'}); });</script></body>";
    }
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

// `page` with the reporter placed before its last "</body>".
inline std::string WithReporter(std::string page, const LoadSignal& signal) {
    const auto end = page.rfind("</body>");
    if (end != std::string::npos) page.replace(end, 7, signal.Reporter());
    return page;
}

// The program's own local page, calling `signal` once loaded.
inline std::string LocalPage(const LoadSignal& signal) {
    return WithReporter(
        testsupport::ReadFile(std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/web/brush.html"),
        signal);
}

// An installed program with its main panel skin, the local page `localPage`, and `mainPageUrl`
// as its main page (an address nothing listens at makes it show the local page), with a home
// of its own.
class InstalledPanel {
  public:
    InstalledPanel(const std::string& localPage, const std::string& mainPageUrl) {
        testsupport::WriteFile(folder_.File("res/web/brush.html"), localPage);
        testsupport::WriteFile(folder_.File("res/skin/mainpanel.png"),
                               testsupport::ReadFile(std::string(MAPLENOOK_TEST_SOURCE_DIR) +
                                                     "/res/skin/mainpanel.png"));
        folder_.WriteSettings(
            "[app]\nwnd=0\n[resource]\ntotal=1\n1=\\res\\skin\\mainpanel.png\n"
            "[mainpanel]\ntitle=MapleNook\nbkimage=1\nbkmode=4\nheadheight=32\n");
        env_ = folder_.Env();
        env_.push_back({"MAPLENOOK_TEST_PAGE_URL", mainPageUrl});
        env_.push_back({"MAPLENOOK_TEST_STATS_URL",
                        "http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort())});
        env_.push_back({"XDG_CONFIG_HOME", home_.File("config")});
        env_.push_back({"XDG_DATA_HOME", home_.File("data")});
    }
    std::string LocalPageUrl() const { return "file://" + folder_.File("res/web/brush.html"); }
    std::unique_ptr<testsupport::ChildProcess> Start() const {
        return std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{folder_.exe()},
                                                           env_, folder_.dir());
    }
    // MiniBrowser showing `url`, with the same data home.
    std::unique_ptr<testsupport::ChildProcess> StartBrowser(const std::string& url) const {
        return std::make_unique<testsupport::ChildProcess>(
            std::vector<std::string>{kMiniBrowser, url},
            testsupport::EnvOverrides{{"XDG_DATA_HOME", home_.File("data")}});
    }

  private:
    testsupport::InstalledFolder folder_;
    testsupport::TempDir home_;
    testsupport::EnvOverrides env_;
};

}  // namespace panelbench
