// MapleNook's download as a small program started once per round, and the loopback file server
// the download benchmarks fetch from, in a process of its own:
//   BenchNet fetch URL FOLDER     the package download
//   BenchNet serve FOLDER         serves FOLDER on 127.0.0.1, prints the port
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "web/HttpDownload.h"

namespace {

// Serves files by streaming them in 1 MiB pieces, so that the server's copying costs the same
// for every client.
int Serve(const std::string& folder) {
    httplib::Server server;
    server.Get(R"(/([A-Za-z0-9._-]+))", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string path = folder + "/" + req.matches[1].str();
        auto file = std::shared_ptr<FILE>(std::fopen(path.c_str(), "rb"), [](FILE* f) {
            if (f) std::fclose(f);
        });
        struct stat info {};
        if (!file || fstat(fileno(file.get()), &info) != 0) {
            res.status = 404;
            return;
        }
        res.set_content_provider(
            static_cast<size_t>(info.st_size), "application/octet-stream",
            [file](size_t offset, size_t length, httplib::DataSink& sink) {
                static thread_local std::vector<char> piece(1 << 20);
                const size_t want = std::min(length, piece.size());
                const ssize_t n =
                    pread(fileno(file.get()), piece.data(), want, static_cast<off_t>(offset));
                return n > 0 && sink.write(piece.data(), static_cast<size_t>(n));
            });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) return 1;
    std::printf("%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "fetch" && argc == 4) return DownloadToFolder(argv[2], argv[3]) == 1 ? 0 : 1;
    if (what == "serve" && argc == 3) return Serve(argv[2]);
    std::fprintf(stderr, "usage: BenchNet fetch URL FOLDER | serve FOLDER\n");
    return 2;
}
