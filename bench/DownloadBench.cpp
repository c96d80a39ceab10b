// The package download (BenchNet fetch) against the curl command line, both started as a
// process per round and fetching the same 200 MB body from the same loopback server, which runs
// in a process of its own (BenchNet serve). Sides alternate; each writes into its own fresh
// folder. libcurl's receive buffer is 512 KiB in MapleNook and curl's own default in the curl
// command; both write the body to a file as it arrives.
//   DownloadBench [rounds]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchCommon.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBodySize = 200u << 20;

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::string pattern = (fs::temp_directory_path() / "download-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const fs::path root = pattern;
    fs::create_directories(root / "served");
    {
        std::vector<char> body(kBodySize);
        for (size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>((i * 2654435761u) >> 24);
        std::ofstream(root / "served" / "pkg.bin", std::ios::binary)
            .write(body.data(), static_cast<std::streamsize>(body.size()));
    }
    bench::FileServer server((root / "served").string());
    if (!server.Ok()) {
        std::fprintf(stderr, "the loopback server did not start\n");
        return 1;
    }
    const std::string url = server.Url("pkg.bin");
    const fs::path ours = root / "ours", theirs = root / "theirs";
    bool sizesOk = true;
    const auto fresh = [&] {
        for (const auto& folder : {ours, theirs}) {
            if (fs::exists(folder / "pkg.bin") && fs::file_size(folder / "pkg.bin") != kBodySize)
                sizesOk = false;
            fs::remove_all(folder);
        }
        fs::create_directories(theirs);
    };
    const auto series = bench::Alternate(
        rounds,
        [&] {
            return bench::RunChild({bench::BenchNet(), "fetch", url, ours.string()});
        },
        [&] {
            return bench::RunChild({"curl", "-s", "-f", "-o", (theirs / "pkg.bin").string(), url});
        },
        fresh);
    fresh();
    fs::remove_all(root);
    if (!series || !sizesOk) {
        std::fprintf(stderr, "a transfer failed\n");
        return 1;
    }
    bench::Print("download of 200 MiB over loopback, each side a process per round",
                 "BenchNet fetch", "curl -s -f -o", *series);
    return 0;
}
