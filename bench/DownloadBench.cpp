// DownloadToFolder against the curl command line, both fetching the same 200 MB body from the
// same loopback cpp-httplib server in this process, alternating, into the same folder.
// Prints each tool's median throughput and the ratio DownloadToFolder / curl.
#include "web/HttpDownload.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr size_t kBodySize = 200u << 20;
constexpr int kRounds = 5;

double Seconds(const std::function<bool()>& run, bool& ok) {
    const auto start = std::chrono::steady_clock::now();
    ok = run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    std::string body(kBodySize, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 2654435761u) >> 24);

    httplib::Server server;
    server.Get("/pkg.bin", [&body](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(body.size(), "application/octet-stream",
                                 [&body](size_t offset, size_t length, httplib::DataSink& sink) {
                                     return sink.write(body.data() + offset,
                                                       std::min<size_t>(length, 1u << 20));
                                 });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "no loopback port\n");
        return 1;
    }
    std::thread listener([&server] { server.listen_after_bind(); });
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/pkg.bin";

    std::string pattern = (fs::temp_directory_path() / "download-bench-XXXXXX").string();
    const fs::path folder = mkdtemp(pattern.data());
    const fs::path target = folder / "pkg.bin";
    const std::string curlCommand = "curl -s -f -o '" + target.string() + "' '" + url + "'";

    std::vector<double> ours, curl;
    bool allOk = true;
    for (int round = 0; round < kRounds; ++round) {
        bool ok = false;
        ours.push_back(Seconds([&] { return DownloadToFolder(url, folder.string()) == 1; }, ok));
        allOk = allOk && ok && fs::file_size(target) == kBodySize;
        fs::remove(target);
        curl.push_back(Seconds([&] { return std::system(curlCommand.c_str()) == 0; }, ok));
        allOk = allOk && ok && fs::file_size(target) == kBodySize;
        fs::remove(target);
    }
    server.stop();
    listener.join();
    fs::remove_all(folder);
    if (!allOk) {
        std::fprintf(stderr, "a transfer failed\n");
        return 1;
    }

    const double mb = static_cast<double>(kBodySize) / (1 << 20);
    const double oursRate = mb / Median(ours);
    const double curlRate = mb / Median(curl);
    std::printf("download of %.0f MB over loopback, median of %d rounds\n", mb, kRounds);
    std::printf("  DownloadToFolder  %8.1f MB/s\n", oursRate);
    std::printf("  curl (CLI)        %8.1f MB/s\n", curlRate);
    std::printf("  ratio DownloadToFolder / curl: %.3f\n", oursRate / curlRate);
    return 0;
}
