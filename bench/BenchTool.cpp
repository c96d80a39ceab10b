// MapleNook's side of the process-level benchmarks as a small command-line program, started once
// per round the way the peer tools are, plus the loopback file server both sides fetch from:
//   BenchTool unzip ARCHIVE DESTINATION      extraction as the package cache does it
//   BenchTool md5 FILE                       the file digest, printed
//   BenchTool fetch URL FOLDER               the package download
//   BenchTool packagerun CACHE FILE URL      download + extraction + start of the package's
//                                            program, then waits until that program has ended
//   BenchTool serve FOLDER                   serves FOLDER on 127.0.0.1, prints the port
#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "mainpanel/BrushWorkflow.h"
#include "mainpanel/PackageServices.h"
#include "phone/ModuleLib.h"
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

// The package's program opens the FIFO named by BENCH_DONE for writing and ends; reading that
// FIFO to its end waits for the program, however it was started.
int PackageRun(const std::string& cache, const std::string& file, const std::string& url) {
    const char* done = std::getenv("BENCH_DONE");
    if (done == nullptr) return 2;
    auto flow = std::make_shared<CBrushWorkflow>(RealPackageServices());
    if (flow->EnsureAndRun(cache, file, url) != 1) return 1;
    const int fd = open(done, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    char buffer[64];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "unzip" && argc == 4) return CModuleLib().UnzipTo(argv[2], argv[3]) ? 0 : 1;
    if (what == "md5" && argc == 3) {
        const std::string digest = CModuleLib().FileDigest(argv[2]);
        std::printf("%s  %s\n", digest.c_str(), argv[2]);
        return digest == std::string(32, '0') ? 1 : 0;
    }
    if (what == "fetch" && argc == 4) return DownloadToFolder(argv[2], argv[3]) == 1 ? 0 : 1;
    if (what == "packagerun" && argc == 5) return PackageRun(argv[2], argv[3], argv[4]);
    if (what == "serve" && argc == 3) return Serve(argv[2]);
    std::fprintf(stderr,
                 "usage: BenchTool unzip ARCHIVE DEST | md5 FILE | fetch URL FOLDER |\n"
                 "       packagerun CACHE FILE URL | serve FOLDER\n");
    return 2;
}
