// MapleNook's side of the package-run benchmark as a small program started once per round:
//   BenchPackageRun CACHE FILE URL
// download + extraction + start of the package's program through the workflow, then waits until
// that program has ended.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "package/BrushWorkflow.h"
#include "package/PackageServices.h"

namespace {

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
    if (argc != 4) {
        std::fprintf(stderr, "usage: BenchPackageRun CACHE FILE URL\n");
        return 2;
    }
    return PackageRun(argv[1], argv[2], argv[3]);
}
