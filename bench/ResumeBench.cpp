// Resuming a cut package download against starting it again: a 100 MB body from a loopback
// server that cuts the first answer at 90 %; the same download then continues with Range/If-Range
// (DownloadResumable with the kept part) or starts from zero. Prints the bytes the server sent
// for each and their ratio (resuming / starting again), and the wall time of each.
//   ResumeBench [rounds]
#include <httplib.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchCommon.h"
#include "web/HttpDownload.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBodySize = 100u * 1000u * 1000u;
constexpr size_t kCutAt = kBodySize / 10 * 9;

bool SameAsBody(const fs::path& path, const std::string& body) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return bytes == body;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string body(kBodySize, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 2654435761u) >> 24);

    // cpp-httplib answers a single range itself (206 with Content-Range); the ETag never
    // changes here, so If-Range always matches.
    std::atomic<size_t> sent{0};
    std::atomic<bool> cutNext{false};
    httplib::Server server;
    server.Get("/pkg.zip", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("ETag", "\"bench-1\"");
        const bool cut = cutNext.exchange(false);
        res.set_content_provider(body.size(), "application/zip",
                                 [&, cut](size_t offset, size_t length, httplib::DataSink& sink) {
                                     if (cut && offset >= kCutAt) return false;
                                     size_t piece = std::min<size_t>(length, 1u << 20);
                                     if (cut) piece = std::min(piece, kCutAt - offset);
                                     sent += piece;
                                     return sink.write(body.data() + offset, piece);
                                 });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) return 1;
    std::thread serving([&] { server.listen_after_bind(); });
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/pkg.zip";
    std::string folder = (fs::temp_directory_path() / "resume-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return 1;
    const fs::path part = fs::path(folder) / "pkg.part";

    std::vector<double> ratios, resumeWall, freshWall;
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        fs::remove(part);
        cutNext = true;
        DownloadWatch cutWatch;
        ok = DownloadResumable(url, part.string(), {}, &cutWatch) == 0 &&
             fs::file_size(part) == kCutAt && !cutWatch.validator.empty();
        if (!ok) break;

        sent = 0;
        const DownloadResume from{static_cast<int64_t>(fs::file_size(part)), cutWatch.validator};
        auto start = std::chrono::steady_clock::now();
        ok = DownloadResumable(url, part.string(), from) == 1;
        resumeWall.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const size_t resumed = sent;
        ok = ok && SameAsBody(part, body);

        fs::remove(part);
        sent = 0;
        start = std::chrono::steady_clock::now();
        ok = ok && DownloadResumable(url, part.string(), {}) == 1;
        freshWall.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ok = ok && SameAsBody(part, body) && sent > 0;
        if (ok) ratios.push_back(static_cast<double>(resumed) / static_cast<double>(sent));
        std::printf("  round %d: resuming sent %zu bytes, starting again %zu\n", round + 1, resumed,
                    static_cast<size_t>(sent));
    }
    server.stop();
    serving.join();
    fs::remove_all(folder);
    if (!ok) {
        std::fprintf(stderr, "a transfer failed or its bytes differ\n");
        return 1;
    }
    const auto r = bench::SpreadOf(ratios), a = bench::SpreadOf(resumeWall),
               b = bench::SpreadOf(freshWall);
    std::printf("resuming a 100 MB download cut at 90 %% vs starting again (%d rounds)\n", rounds);
    std::printf(
        "  bytes ratio resuming / starting again %7.3f %7.3f %7.3f (min median max; "
        "target <= 0.12)\n",
        r.min, r.median, r.max);
    std::printf("  wall resuming         %9.1f %9.1f %9.1f ms\n", a.min * 1e3, a.median * 1e3,
                a.max * 1e3);
    std::printf("  wall starting again   %9.1f %9.1f %9.1f ms\n", b.min * 1e3, b.median * 1e3,
                b.max * 1e3);
    return 0;
}
