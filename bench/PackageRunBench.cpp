// A package run end to end (download + extraction + start) through the workflow, against
// curl + unzip + exec of the same package from the same loopback server, in one run.
//   package_run_bench [runs]
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mainpanel/BrushWorkflow.h"
#include "mainpanel/PackageServices.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::string pattern = (fs::temp_directory_path() / "maplenook-runbench-XXXXXX").string();
    const fs::path root = mkdtemp(pattern.data());

    // The package: a program that ends at once, and 4 MB of poorly compressible data.
    const fs::path stage = root / "stage";
    fs::create_directories(stage);
    std::ofstream(stage / "tool.sh") << "#!/bin/sh\nexit 0\n";
    fs::permissions(stage / "tool.sh", fs::perms::owner_all);
    {
        std::mt19937 random(7);
        std::string data(4 << 20, '\0');
        for (auto& c : data) c = static_cast<char>(random() % 64 + 32);
        std::ofstream(stage / "data.bin", std::ios::binary) << data;
    }
    const std::string zipCommand = "cd '" + stage.string() + "' && zip -q -X '" +
                                   (root / "tool.zip").string() + "' tool.sh data.bin";
    if (std::system(zipCommand.c_str()) != 0) return 1;
    const std::string archive = ReadAll(root / "tool.zip");

    httplib::Server server;
    server.Get("/pkg/tool.zip", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(archive, "application/zip");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/pkg/tool.zip";

    BrushServices services = RealPackageServices();
    auto flow = std::make_shared<CBrushWorkflow>(services);

    std::vector<double> ours, peer;
    for (int i = 0; i < runs; ++i) {
        const fs::path cacheA = root / ("a" + std::to_string(i));
        const fs::path cacheB = root / ("b" + std::to_string(i));
        fs::create_directories(cacheA);
        fs::create_directories(cacheB);

        auto start = Clock::now();
        if (flow->EnsureAndRun(cacheA.string(), "tool.sh", url) != 1) {
            std::fprintf(stderr, "workflow run failed\n");
            return 1;
        }
        ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());

        const std::string peerCommand =
            "cd '" + cacheB.string() + "' && curl -sf -o tool.zip '" + url +
            "' && unzip -q -o tool.zip -d tool && rm tool.zip && cd tool && ./tool.sh";
        start = Clock::now();
        if (std::system(peerCommand.c_str()) != 0) {
            std::fprintf(stderr, "peer run failed\n");
            return 1;
        }
        peer.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    server.stop();
    serving.join();
    fs::remove_all(root);

    const double a = Median(ours), b = Median(peer);
    std::printf("package run (4 MB archive, %d runs, medians)\n", runs);
    std::printf("  maplenook workflow      %8.2f ms\n", a);
    std::printf("  curl + unzip + exec     %8.2f ms\n", b);
    std::printf("  ratio (workflow/peer)   %8.3f  (target <= 1.1)\n", a / b);
    return 0;
}
