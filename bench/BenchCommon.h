// What every benchmark shares: running a side as a child process and reading its CPU time from
// the kernel's accounting, alternating the two sides, and printing wall and CPU time as
// min / median / max with the pairwise ratio MapleNook / peer (in time: lower is better).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace bench {

// One measured run: seconds of wall-clock time and of CPU time (user + system).
struct Cost {
    double wall = 0;
    double cpu = 0;
};

inline double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

inline double CpuSeconds(const rusage& usage) {
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// Runs `argv` (looked up on PATH) with its output thrown away, or appended to `output` when
// given, and waits for it. The CPU time is the child's own and that of every child it waited
// for (wait4's accounting). Nothing when it cannot start or does not exit with 0.
inline std::optional<Cost> RunChild(const std::vector<std::string>& argv,
                                    const std::string& output = "/dev/null") {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0].c_str());
        return std::nullopt;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return std::nullopt;
    }
    Cost cost;
    cost.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.cpu = CpuSeconds(usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
        return std::nullopt;
    }
    return cost;
}

// This process's CPU time and that of the children it has waited for.
inline double CpuSecondsSoFar() {
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return CpuSeconds(self) + CpuSeconds(children);
}

// Runs `work` in this process; CPU time from the process's own accounting (threads and waited
// children included).
inline std::optional<Cost> RunHere(const std::function<bool()>& work) {
    const double cpuBefore = CpuSecondsSoFar();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = work();
    Cost cost;
    cost.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.cpu = CpuSecondsSoFar() - cpuBefore;
    if (!ok) return std::nullopt;
    return cost;
}

struct Series {
    std::vector<Cost> ours, peer;
};

// Runs the sides in turn, `rounds` times each, MapleNook first in even rounds and the peer first
// in odd ones; `between` runs untimed before every side (clean-up, fresh folders). Nothing when
// any run failed.
inline std::optional<Series> Alternate(
    int rounds, const std::function<std::optional<Cost>()>& ours,
    const std::function<std::optional<Cost>()>& peer,
    const std::function<void()>& between = [] {}) {
    Series series;
    for (int round = 0; round < rounds; ++round) {
        for (int side = 0; side < 2; ++side) {
            const bool oursNow = (side == 0) == (round % 2 == 0);
            between();
            const auto cost = oursNow ? ours() : peer();
            if (!cost) return std::nullopt;
            (oursNow ? series.ours : series.peer).push_back(*cost);
        }
    }
    return series;
}

struct Spread {
    double min = 0, median = 0, max = 0;
};

inline Spread SpreadOf(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {values.front(), median, values.back()};
}

// Prints one comparison: each side's wall and CPU time, and the ratio of the pairs of the same
// round, MapleNook / peer. `scale` and `unit` turn seconds into the printed unit.
inline void PrintFigures(const std::string& work, const std::string& oursName,
                         const std::string& peerName, const Series& series, double scale,
                         const char* unit, int figures, int first = 0) {
    std::printf("%s (%zu rounds, sides alternating)\n", work.c_str(), series.ours.size());
    for (int which = first; which < figures; ++which) {
        const char* label = which == 0 ? "wall" : "cpu ";
        std::vector<double> a, b, ratio;
        for (size_t i = 0; i < series.ours.size() && i < series.peer.size(); ++i) {
            const double x = which == 0 ? series.ours[i].wall : series.ours[i].cpu;
            const double y = which == 0 ? series.peer[i].wall : series.peer[i].cpu;
            a.push_back(x * scale);
            b.push_back(y * scale);
            if (y > 0) ratio.push_back(x / y);
        }
        const Spread sa = SpreadOf(a), sb = SpreadOf(b), sr = SpreadOf(ratio);
        std::printf("  %s %-22s %9.2f %9.2f %9.2f %s (min median max)\n", label, oursName.c_str(),
                    sa.min, sa.median, sa.max, unit);
        std::printf("  %s %-22s %9.2f %9.2f %9.2f %s\n", label, peerName.c_str(), sb.min, sb.median,
                    sb.max, unit);
        std::printf("  %s ratio MapleNook / peer  %9.3f %9.3f %9.3f   (lower is better)\n", label,
                    sr.min, sr.median, sr.max);
    }
}

inline void Print(const std::string& work, const std::string& oursName, const std::string& peerName,
                  const Series& series, double scale = 1e3, const char* unit = "ms") {
    PrintFigures(work, oursName, peerName, series, scale, unit, 2);
}

// The same for figures that have no CPU time of their own (timed inside a page).
inline void PrintWall(const std::string& work, const std::string& oursName,
                      const std::string& peerName, const Series& series, double scale = 1e3,
                      const char* unit = "ms") {
    PrintFigures(work, oursName, peerName, series, scale, unit, 1);
}

// The same for figures that are CPU time only (work that finishes in another process).
inline void PrintCpu(const std::string& work, const std::string& oursName,
                     const std::string& peerName, const Series& series, double scale = 1e3,
                     const char* unit = "ms") {
    PrintFigures(work, oursName, peerName, series, scale, unit, 2, 1);
}

// Subtracts a fixed cost from every run of one side: the work only that side does.
inline void Subtract(std::vector<Cost>& side, const Cost& extra) {
    for (auto& c : side) {
        c.wall = std::max(0.0, c.wall - extra.wall);
        c.cpu = std::max(0.0, c.cpu - extra.cpu);
    }
}

// The median cost of `runs` runs of a command: what one more process start of it costs.
inline std::optional<Cost> MedianCost(int runs, const std::function<std::optional<Cost>()>& run) {
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        const auto cost = run();
        if (!cost) return std::nullopt;
        wall.push_back(cost->wall);
        cpu.push_back(cost->cpu);
    }
    return Cost{SpreadOf(wall).median, SpreadOf(cpu).median};
}

// The process and all its descendants, from the parent links in /proc.
inline std::vector<long> ProcessTree(long root) {
    std::vector<std::pair<long, long>> links;  // pid, parent
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            const long pid = std::atol(entry->d_name);
            if (pid <= 0) continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string text;
            std::getline(stat, text);
            const auto close = text.rfind(')');
            if (close == std::string::npos) continue;
            char state = 0;
            long parent = 0;
            if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &parent) == 2)
                links.push_back({pid, parent});
        }
        closedir(proc);
    }
    std::vector<long> tree{root};
    for (size_t i = 0; i < tree.size(); ++i)
        for (const auto& [pid, parent] : links)
            if (parent == tree[i]) tree.push_back(pid);
    return tree;
}

// Calls `visit(pid, tid, "/proc/<pid>/task/<tid>")` for every live thread of the processes.
inline void ForEachThread(
    const std::vector<long>& tree,
    const std::function<void(long, const std::string&, const std::string&)>& visit) {
    for (long pid : tree) {
        const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
        DIR* folder = opendir(tasks.c_str());
        if (folder == nullptr) continue;
        while (dirent* entry = readdir(folder))
            if (entry->d_name[0] != '.') visit(pid, entry->d_name, tasks + "/" + entry->d_name);
        closedir(folder);
    }
}

// Seconds on a CPU of every thread of the processes now, to the nanosecond (the scheduler's
// own figure; threads that have ended are not counted).
inline double ThreadsCpuSeconds(const std::vector<long>& tree) {
    unsigned long long nanos = 0;
    ForEachThread(tree, [&](long, const std::string&, const std::string& task) {
        std::ifstream stat(task + "/schedstat");
        unsigned long long running = 0;
        if (stat >> running) nanos += running;
    });
    return static_cast<double>(nanos) / 1e9;
}

// The benchmark programs' own folder, where BenchTool and BenchNet are.
inline std::string ProgramFolder() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string text(path, static_cast<size_t>(n));
    return text.substr(0, text.rfind('/'));
}

inline std::string BenchTool() {
    return ProgramFolder() + "/BenchTool";
}

inline std::string BenchNet() {
    return ProgramFolder() + "/BenchNet";
}

// `BenchNet serve FOLDER` as a child process for as long as this object lives: a loopback
// server in a process of its own, the same for both sides.
class FileServer {
  public:
    explicit FileServer(const std::string& folder) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::string tool = BenchNet();
        char* argv[] = {const_cast<char*>(tool.c_str()), const_cast<char*>("serve"),
                        const_cast<char*>(folder.c_str()), nullptr};
        if (posix_spawn(&pid_, tool.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        char line[32] = {};
        size_t used = 0;
        ssize_t n = 0;
        while (used < sizeof line - 1 && (n = read(fds[0], line + used, 1)) == 1 &&
               line[used] != '\n')
            ++used;
        close(fds[0]);
        port_ = std::atoi(line);
    }
    ~FileServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    FileServer(const FileServer&) = delete;
    FileServer& operator=(const FileServer&) = delete;
    bool Ok() const { return pid_ > 0 && port_ > 0; }
    std::string Url(const std::string& name) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
    }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace bench
