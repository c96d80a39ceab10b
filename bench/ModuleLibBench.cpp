// Measures the bridge tool module against the peer tools in the same run:
//   UnzipTo vs `unzip -o -q` on a ~100 MB archive of a few thousand files,
//   FileDigest vs `md5sum` on a 512 MB file,
//   RunAdb("version") vs running the same adb directly.
// Everything it makes lives in one folder under /tmp and is removed at the end.
#include "phone/ModuleLib.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

double Seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

// Alternates the two sides `rounds` times so that cache and load effects hit both alike.
std::pair<double, double> Compare(
    int rounds, const std::function<void()>& ours, const std::function<void()>& peer,
    const std::function<void()>& between = [] {}) {
    std::vector<double> a, b;
    for (int i = 0; i < rounds; ++i) {
        between();
        a.push_back(Seconds(ours));
        between();
        b.push_back(Seconds(peer));
    }
    return {Median(a), Median(b)};
}

void MakeArchiveTree(const std::string& root) {
    std::mt19937 random(42);
    std::vector<char> bytes;
    for (int i = 0; i < 3000; ++i) {
        const std::string dir = root + "/d" + std::to_string(i % 40) + "/s" + std::to_string(i % 7);
        fs::create_directories(dir);
        const size_t size = 4096 + random() % 86016;
        bytes.resize(size);
        if (i % 3 == 0) {
            // Text-like content that deflates well.
            for (size_t k = 0; k < size; ++k)
                bytes[k] = "adb fastboot aapt phone \n"[(k * 7 + i) % 25];
        } else {
            for (auto& b : bytes) b = static_cast<char>(random());
        }
        std::ofstream(dir + "/file" + std::to_string(i) + ".bin", std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

void BenchUnzip(const std::string& work) {
    const std::string tree = work + "/tree";
    const std::string archive = work + "/bench.zip";
    MakeArchiveTree(tree);
    Run("cd " + Quote(tree) + " && zip -q -r " + Quote(archive) + " .");
    fs::remove_all(tree);
    Run("cat " + Quote(archive) + " > /dev/null");
    CModuleLib lib;
    const std::string ours = work + "/ours";
    const std::string theirs = work + "/theirs";
    const auto [oursTime, peerTime] = Compare(
        3, [&] { lib.UnzipTo(archive, ours); },
        [&] { Run("unzip -o -q " + Quote(archive) + " -d " + Quote(theirs)); },
        [&] {
            fs::remove_all(ours);
            fs::remove_all(theirs);
        });
    std::printf(
        "UnzipTo   %.1f MB archive, 3000 files: %.3f s, unzip -o -q: %.3f s, time ratio %.3f\n",
        fs::file_size(archive) / 1e6, oursTime, peerTime, oursTime / peerTime);
    fs::remove_all(ours);
    fs::remove_all(theirs);
    fs::remove(archive);
}

void BenchDigest(const std::string& work) {
    const std::string file = work + "/digest.bin";
    {
        std::mt19937_64 random(9);
        std::vector<uint64_t> chunk(1 << 17);
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; i < 512; ++i) {
            for (auto& v : chunk) v = random();
            out.write(reinterpret_cast<const char*>(chunk.data()), 1 << 20);
        }
    }
    Run("cat " + Quote(file) + " > /dev/null");
    CModuleLib lib;
    std::string digest;
    const auto [oursTime, peerTime] = Compare(
        3, [&] { digest = lib.FileDigest(file); },
        [&] { Run("md5sum " + Quote(file) + " > /dev/null"); });
    const double mb = fs::file_size(file) / 1e6;
    std::printf("FileDigest 512 MiB: %.0f MB/s, md5sum: %.0f MB/s, throughput ratio %.3f\n",
                mb / oursTime, mb / peerTime, peerTime / oursTime);
    fs::remove(file);
}

// Runs `program version` with output on a pipe read to the end: what a direct exec costs.
void ExecDirectly(const std::string& program) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("version"), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char buffer[4096];
    while (read(fds[0], buffer, sizeof buffer) > 0) {
    }
    close(fds[0]);
    if (rc == 0) waitpid(pid, nullptr, 0);
}

void BenchRunAdb(const std::string& work) {
    const std::string runtime = work + "/run";
    mkdir(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    fs::create_directories(work + "/module/adb");
    for (const char* tool : {"adb", "aapt", "fastboot"}) {
        fs::copy_file(fs::canonical(std::string("/usr/bin/") + tool), work + "/module/adb/" + tool);
    }
    CModuleLib lib;
    if (!lib.Init(work + "/module")) {
        std::printf("RunAdb: Init failed\n");
        return;
    }
    std::string output;
    const auto [oursTime, peerTime] = Compare(
        50, [&] { output = lib.RunAdb("version"); }, [&] { ExecDirectly(lib.adbPath()); });
    std::printf("RunAdb(\"version\"): %.2f ms, direct exec: %.2f ms, time ratio %.3f (%s)\n",
                oursTime * 1e3, peerTime * 1e3, oursTime / peerTime,
                output.find("Android Debug Bridge") != std::string::npos ? "output ok"
                                                                         : "unexpected output");
}

}  // namespace

int main(int argc, char** argv) {
    std::string pattern = "/tmp/maplenook-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const std::string work = pattern;
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "unzip") BenchUnzip(work);
    if (only.empty() || only == "digest") BenchDigest(work);
    if (only.empty() || only == "adb") BenchRunAdb(work);
    fs::remove_all(work);
    return 0;
}
