// What the installed program's process tree (UI, web and network processes) costs while its
// page is shown, against WebKitGTK's MiniBrowser showing the same page in a window of the same
// size, in one run with the sides alternating:
//   - idle wake-ups: context switches of every thread of the tree per second, showing the local
//     page (the program shows it because nothing listens at its main page address). The page
//     finds itself offline and retries the maker's page on a timer, painting its retry button
//     each time; MiniBrowser gets the same page with a stand-in window.external that answers
//     nothing, so it runs the same offline mode and timer rather than the page's preview;
//   - an animating page (a CSS spinner and the indeterminate progress bar of a download): CPU
//     time of the UI process, and of the whole tree.
// Needs a display (run under xvfb-run).
//   PageActivityBench [rounds] [--idle-seconds N] [--spin-seconds N] [--threads]
// --threads lists, for the last round of each side, the threads that switched most.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "PanelBench.h"

using namespace std::chrono_literals;

namespace {

// A spinner and the local page's indeterminate bar, animating for as long as the page is shown.
constexpr const char* kSpinnerPage = R"HTML(<!doctype html>
<html><head><meta charset="utf-8"><title>spinner</title><style>
body { margin: 0; font: 13px sans-serif; background: #f5f6f8; }
.spin { width: 28px; height: 28px; margin: 40px auto 16px; border: 3px solid #d0d4da;
        border-top-color: #2b6de5; border-radius: 50%; animation: turn 0.9s linear infinite; }
@keyframes turn { to { transform: rotate(360deg); } }
.bar { width: 240px; height: 4px; margin: 0 auto; background: #e3e6ea; overflow: hidden; }
.bar i { display: block; height: 100%; width: 40%; background: #2b6de5;
         animation: slide 1.1s ease-in-out infinite; }
@keyframes slide { from { margin-left: -40%; } to { margin-left: 100%; } }
</style></head><body>
<div class="spin"></div><div class="bar"><i></i></div>
<p style="text-align:center">正在下载…</p>
</body></html>)HTML";

// Placed before the local page's scripts on MiniBrowser's side: the page then takes itself for
// a page in the program with no answers, as when nothing is set yet.
constexpr const char* kStandInBridge =
    "<script>window.external = { Call: function (element) {} };</script>";

struct Options {
    int rounds = 5;
    int idleSeconds = 60;
    int spinSeconds = 10;
    bool threads = false;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--idle-seconds" && i + 1 < argc)
            options.idleSeconds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--spin-seconds" && i + 1 < argc)
            options.spinSeconds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--threads")
            options.threads = true;
        else
            options.rounds = std::max(1, std::atoi(arg.c_str()));
    }
    return options;
}

void PrintBusiestThreads(const char* side,
                         const std::map<std::string, unsigned long long>& switches) {
    std::vector<std::pair<unsigned long long, std::string>> sorted;
    for (const auto& [thread, count] : switches) sorted.push_back({count, thread});
    std::sort(sorted.rbegin(), sorted.rend());
    std::printf("  %s, threads that switched most:\n", side);
    for (size_t i = 0; i < sorted.size() && i < 12; ++i)
        std::printf("    %6llu  %s\n", sorted[i].first, sorted[i].second.c_str());
}

void PrintRatioRow(const char* work, const char* unit, const std::vector<double>& ours,
                   const std::vector<double>& peer) {
    std::vector<double> ratio;
    for (size_t i = 0; i < ours.size() && i < peer.size(); ++i)
        if (peer[i] > 0) ratio.push_back(ours[i] / peer[i]);
    const auto a = bench::SpreadOf(ours), b = bench::SpreadOf(peer), r = bench::SpreadOf(ratio);
    std::printf("%s (%zu rounds, sides alternating)\n", work, ours.size());
    std::printf("  maplenook    %9.3f %9.3f %9.3f %s (min median max)\n", a.min, a.median, a.max,
                unit);
    std::printf("  MiniBrowser  %9.3f %9.3f %9.3f %s\n", b.min, b.median, b.max, unit);
    std::printf("  ratio MapleNook / peer  %7.3f %7.3f %7.3f   (lower is better)\n", r.min,
                r.median, r.max);
}

// One side started and shown at the panel's size: the program, or MiniBrowser at `browserUrl`.
class Side {
  public:
    Side(bool ours, const panelbench::InstalledPanel& panel, const std::string& browserUrl)
        : child_(ours ? panel.Start() : panel.StartBrowser(browserUrl)), ours_(ours) {}
    ~Side() {
        child_->Signal(SIGTERM);
        child_->Wait(5s);
    }
    Side(const Side&) = delete;
    Side& operator=(const Side&) = delete;

    // Waits for the page and the window; MiniBrowser's window takes the size of the program's
    // panel (`panel`, known once the program has run).
    bool Show(panelbench::LoadSignal& signal, int seen, panelbench::WindowSize& panel) {
        if (!signal.WaitBeyond(seen, 30s)) {
            std::fprintf(stderr, "%s did not load the page:\n%s\n", Name(),
                         child_->Output().c_str());
            return false;
        }
        const auto window = panelbench::WaitForMainWindow(child_->pid());
        if (window.window == 0) {
            std::fprintf(stderr, "%s shows no window\n", Name());
            return false;
        }
        if (ours_) {
            panel = window;
        } else if (panel.width > 0) {
            panelbench::Resize(window.window, panel.width, panel.height);
        }
        return true;
    }
    long pid() const { return child_->pid(); }
    std::vector<long> Tree() const { return bench::ProcessTree(child_->pid()); }
    const char* Name() const { return ours_ ? "maplenook" : "MiniBrowser"; }

  private:
    std::unique_ptr<testsupport::ChildProcess> child_;
    bool ours_;
};

}  // namespace

int main(int argc, char** argv) {
    if (!panelbench::CanRun("PageActivityBench")) return 2;
    const Options options = ParseOptions(argc, argv);

    panelbench::LoadSignal signal;
    signal.Start();
    // A file, as the local page is: the program takes it as its main page all the same.
    const testsupport::TempDir pages;
    testsupport::WriteFile(pages.File("spinner.html"),
                           panelbench::WithReporter(kSpinnerPage, signal));
    const std::string spinnerUrl = "file://" + pages.File("spinner.html");

    const std::string nowhere =
        "http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort()) + "/Brush.html";
    const panelbench::InstalledPanel idlePanel(panelbench::LocalPage(signal), nowhere);
    const panelbench::InstalledPanel spinnerPanel(panelbench::LocalPage(signal), spinnerUrl);
    std::string offlinePage = panelbench::LocalPage(signal);
    offlinePage.insert(offlinePage.find("<script"), kStandInBridge);
    testsupport::WriteFile(pages.File("offline.html"), offlinePage);
    const std::string offlineUrl = "file://" + pages.File("offline.html");

    // The program's panel size, for MiniBrowser's window: taken from a first start of the
    // program when the peer goes first.
    panelbench::WindowSize panel;
    {
        Side first(true, idlePanel, "");
        if (!first.Show(signal, signal.Count(), panel)) return 1;
    }

    std::vector<double> wakeOurs, wakePeer;
    std::map<std::string, unsigned long long> lastOurs, lastPeer;
    std::vector<double> uiOurs, uiPeer, treeOurs, treePeer;
    for (int round = 0; round < options.rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool ours = (turn == 0) == (round % 2 == 0);  // who goes first alternates
            {
                Side side(ours, idlePanel, offlineUrl);
                if (!side.Show(signal, signal.Count(), panel)) return 1;
                std::this_thread::sleep_for(5s);  // past the first layouts and paints
                const auto before = panelbench::ThreadSwitches(side.Tree());
                std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
                const auto made =
                    panelbench::SwitchesBetween(before, panelbench::ThreadSwitches(side.Tree()));
                unsigned long long total = 0;
                for (const auto& entry : made) total += entry.second;
                (ours ? wakeOurs : wakePeer)
                    .push_back(static_cast<double>(total) / options.idleSeconds);
                (ours ? lastOurs : lastPeer) = made;
            }
            {
                Side side(ours, spinnerPanel, spinnerUrl);
                if (!side.Show(signal, signal.Count(), panel)) return 1;
                std::this_thread::sleep_for(3s);
                const double uiBefore = bench::ThreadsCpuSeconds({side.pid()});
                const double treeBefore = bench::ThreadsCpuSeconds(side.Tree());
                std::this_thread::sleep_for(std::chrono::seconds(options.spinSeconds));
                const double ui = bench::ThreadsCpuSeconds({side.pid()}) - uiBefore;
                const double tree = bench::ThreadsCpuSeconds(side.Tree()) - treeBefore;
                (ours ? uiOurs : uiPeer).push_back(ui * 1e3 / options.spinSeconds);
                (ours ? treeOurs : treePeer).push_back(tree * 1e3 / options.spinSeconds);
            }
        }
    }

    std::printf("windows %dx%d\n", panel.width, panel.height);
    const std::string idleTitle =
        "idle wake-ups over " + std::to_string(options.idleSeconds) +
        " s showing the local page, context switches of every thread of the tree";
    PrintRatioRow(idleTitle.c_str(), "/s", wakeOurs, wakePeer);
    PrintRatioRow("animating page, CPU of the UI process", "ms/s", uiOurs, uiPeer);
    PrintRatioRow("animating page, CPU of the whole process tree", "ms/s", treeOurs, treePeer);
    if (options.threads) {
        std::printf("idle switches in the last round:\n");
        PrintBusiestThreads("maplenook", lastOurs);
        PrintBusiestThreads("MiniBrowser", lastPeer);
    }
    return 0;
}
