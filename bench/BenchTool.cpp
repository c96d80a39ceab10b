// MapleNook's side of the extraction and digest benchmarks as a small program started once per
// round, the way the peer tools are:
//   BenchTool unzip ARCHIVE DESTINATION      extraction as the package cache does it
//   BenchTool md5 FILE                       the file digest, printed
#include <cstdio>
#include <string>

#include "os/Digest.h"
#include "package/ZipExtract.h"

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "unzip" && argc == 4)
        return ExtractZip(argv[2], argv[3]) == ExtractResult::Done ? 0 : 1;
    if (what == "md5" && argc == 3) {
        const std::string digest = os::Md5HexOfFile(argv[2]);
        std::printf("%s  %s\n", digest.c_str(), argv[2]);
        return digest.empty() ? 1 : 0;
    }
    std::fprintf(stderr, "usage: BenchTool unzip ARCHIVE DEST/ | md5 FILE\n");
    return 2;
}
