// Start to loaded page, and idle memory, of the installed program (local page: nothing listens
// at the main page address) against WebKitGTK's MiniBrowser showing the same page, in one run.
// Memory is the proportional set size (PSS) of the whole process tree: the UI process and the
// web and network processes it started. MiniBrowser's window is resized to the size of
// MapleNook's main panel before the memory is read. CPU time is that of the whole tree when the
// page reports it has loaded. Needs a display (run under xvfb-run).   StartupBench [rounds]
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "PanelBench.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace panelbench;

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!CanRun("StartupBench")) return 2;
    LoadSignal signal;
    signal.Start();

    // The program's own local page, telling the bench when it has loaded; nothing listens at
    // the main page address.
    const InstalledPanel installed(
        LocalPage(signal),
        "http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort()) + "/Brush.html");

    bench::Series times;
    std::vector<double> oursKiB, peerKiB, ratioKiB;
    WindowSize panel, browserSize;
    for (int i = 0; i < runs; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            const int which = (turn == 0) == (i % 2 == 0) ? 0 : 1;  // who goes first alternates
            const int seen = signal.Count();
            const auto start = Clock::now();
            const auto child =
                which == 0 ? installed.Start() : installed.StartBrowser(installed.LocalPageUrl());
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
