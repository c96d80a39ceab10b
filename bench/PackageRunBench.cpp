// A package run end to end (download + extraction + start of its program, waiting until that
// program has ended) through the workflow (BenchPackageRun, a process per round) against
// curl + unzip + the program started one after the other from this process, both from the same
// loopback server in a process of its own. Each round uses a fresh, empty cache folder.
// The peer starts one process more than MapleNook (curl and unzip against one BenchPackageRun); the
// corrected figures take one `unzip -v` run (a start of unzip that does nothing) off the peer.
//   PackageRunBench [rounds]
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "BenchCommon.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::string pattern = (fs::temp_directory_path() / "maplenook-runbench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const fs::path root = pattern;

    // The package: a program that tells the waiting side it ran and ends, and 4 MB of poorly
    // compressible data.
    const fs::path stage = root / "stage";
    fs::create_directories(stage);
    fs::create_directories(root / "served");
    std::ofstream(stage / "tool.sh") << "#!/bin/sh\nexec 3>\"$BENCH_DONE\"\nexit 0\n";
    fs::permissions(stage / "tool.sh", fs::perms::owner_all);
    {
        std::mt19937 random(7);
        std::string data(4 << 20, '\0');
        for (auto& c : data) c = static_cast<char>(random() % 64 + 32);
        std::ofstream(stage / "data.bin", std::ios::binary) << data;
    }
    const std::string zipCommand = "cd '" + stage.string() + "' && zip -q -X '" +
                                   (root / "served" / "tool.zip").string() + "' tool.sh data.bin";
    if (std::system(zipCommand.c_str()) != 0) return 1;
    const std::string fifo = (root / "done").string();
    if (mkfifo(fifo.c_str(), 0600) != 0) return 1;

    bench::FileServer server((root / "served").string());
    if (!server.Ok()) return 1;
    const std::string url = server.Url("tool.zip");

    int round = 0;
    fs::path cache;
    const auto fresh = [&] {
        cache = root / ("cache" + std::to_string(round++));
        fs::create_directories(cache);
    };
    const auto ours = [&] {
        setenv("BENCH_DONE", fifo.c_str(), 1);
        return bench::RunChild(
            {bench::ProgramFolder() + "/BenchPackageRun", cache.string(), "tool.sh", url});
    };
    const auto peer = [&]() -> std::optional<bench::Cost> {
        setenv("BENCH_DONE", "/dev/null", 1);
        const std::string archive = (cache / "tool.zip").string();
        const std::string folder = (cache / "tool").string();
        return bench::RunHere([&] {
            return bench::RunChild({"curl", "-s", "-f", "-o", archive, url}) &&
                   bench::RunChild({"unzip", "-q", "-o", archive, "-d", folder}) &&
                   fs::remove(archive) && bench::RunChild({folder + "/tool.sh"});
        });
    };
    auto series = bench::Alternate(rounds, ours, peer, fresh);
    const auto unzipStart = bench::MedianCost(rounds, [] {
        return bench::RunChild({"unzip", "-v"});
    });
    fs::remove_all(root);
    if (!series || !unzipStart) {
        std::fprintf(stderr, "a package run failed\n");
        return 1;
    }
    bench::Print("package run, 4 MB archive, program waited for", "BenchPackageRun",
                 "curl + unzip + program", *series);
    std::printf("one start of unzip (unzip -v): %.2f ms wall, %.2f ms cpu\n",
                unzipStart->wall * 1e3, unzipStart->cpu * 1e3);
    bench::Subtract(series->peer, *unzipStart);
    bench::Print("the same, peer without its extra process start", "BenchPackageRun",
                 "curl + unzip + program", *series);
    return 0;
}
