// Extraction, file digest and the bridge command runner against their peer tools, in one run:
//   extraction (BenchTool unzip, a process per round) vs `bsdtar -xf` and `unzip -o -q`, on
//     10 files of about 1 MB, 1,000 small files and 20,000 small files (4-12 KB);
//   the same on one large entry: a stored 256 MiB one and a deflated 1 GiB one ("large"; a
//     third argument divides both sizes, for a quick run);
//   the file digest (BenchTool md5) vs `md5sum` on a 512 MiB file;
//   RunAdb("version") vs running the same adb directly (both started from this process).
// Everything it makes lives in one folder, removed at the end: under $MAPLENOOK_BENCH_DIR when
// set, else under /dev/shm, so that the figures show the tools' own work rather than the disk's
// (on a virtual disk, creating a file can cost more than extracting it).
//   ModuleLibBench [unzip|many|large|digest|adb] [rounds] [size divisor]
// ("many" is the 20,000 small files alone, the shape a tool package with thousands of files has).
#include "phone/ModuleLib.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BenchCommon.h"

namespace fs = std::filesystem;

namespace {

int g_rounds = 5;
uint64_t g_sizeDivisor = 1;

bool Run(const std::string& command) {
    if (std::system(command.c_str()) == 0) return true;
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    return false;
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

// `count` files in 40 x 7 folders, sizes from `smallest` to `largest`; two in three deflate
// well, the rest are random and end up stored.
void MakeTree(const std::string& root, int count, size_t smallest, size_t largest) {
    std::mt19937 random(42);
    std::vector<char> bytes;
    for (int i = 0; i < count; ++i) {
        const std::string dir = root + "/d" + std::to_string(i % 40) + "/s" + std::to_string(i % 7);
        fs::create_directories(dir);
        bytes.resize(smallest + random() % (largest - smallest + 1));
        if (i % 3 != 2) {
            for (size_t k = 0; k < bytes.size(); ++k)
                bytes[k] = "adb fastboot aapt phone \n"[(k * 7 + i + k / 64) % 25];
        } else {
            for (auto& b : bytes) b = static_cast<char>(random());
        }
        std::ofstream(dir + "/file" + std::to_string(i) + ".bin", std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

// Times extraction of `archive` against both peers and removes it.
void CompareExtraction(const std::string& work, const std::string& archive,
                       const std::string& shape) {
    Run("cat " + Quote(archive) + " > /dev/null");
    const std::string dest = work + "/out";
    const auto fresh = [&] {
        fs::remove_all(dest);
        fs::create_directory(dest);  // bsdtar and unzip write into an existing folder
        sync();
    };
    const auto ours = [&] {
        // A folder of its own inside: the package cache never replaces a folder it did not
        // make, and the peers want theirs to exist already.
        return bench::RunChild({bench::BenchTool(), "unzip", archive, dest + "/package/"});
    };
    const auto bsdtar = bench::Alternate(
        g_rounds, ours,
        [&] {
            return bench::RunChild({"bsdtar", "-xf", archive, "-C", dest});
        },
        fresh);
    if (bsdtar) bench::Print("extraction, " + shape, "BenchTool unzip", "bsdtar -xf", *bsdtar);
    const auto unzip = bench::Alternate(
        g_rounds, ours,
        [&] {
            return bench::RunChild({"unzip", "-o", "-q", archive, "-d", dest});
        },
        fresh);
    if (unzip) bench::Print("extraction, " + shape, "BenchTool unzip", "unzip -o -q", *unzip);
    fs::remove_all(dest);
    fs::remove(archive);
}

void BenchUnzipShape(const std::string& work, const std::string& name, int count, size_t smallest,
                     size_t largest) {
    const std::string tree = work + "/tree";
    const std::string archive = work + "/" + name + ".zip";
    MakeTree(tree, count, smallest, largest);
    if (!Run("cd " + Quote(tree) + " && zip -q -r " + Quote(archive) + " .")) return;
    fs::remove_all(tree);
    CompareExtraction(work, archive,
                      name + ": " + std::to_string(count) + " files, " +
                          std::to_string(fs::file_size(archive) / 1000) + " kB archive");
}

// One file of `size` bytes. Compressible: lines of words drawn at random from a small
// vocabulary with random numbers between, which deflates to about a third, like the text and
// code in a tool package; else random bytes, which zip stores.
void MakeLargeFile(const std::string& path, uint64_t size, bool compressible) {
    static const char* const kWords[] = {"adb",    "fastboot", "partition", "flash",  "boot",
                                         "system", "vendor",   "image",     "sparse", "chunk",
                                         "offset", "length",   "device",    "serial", "usb"};
    std::mt19937_64 random(7);
    std::vector<char> chunk(1 << 20);
    std::ofstream out(path, std::ios::binary);
    for (uint64_t written = 0; written < size;) {
        if (compressible) {
            size_t at = 0;
            while (at < chunk.size()) {
                const uint64_t r = random();
                const std::string piece = std::string(kWords[r % 15]) + (r & 0x100 ? " " : "=") +
                                          std::to_string(r >> 40) + (r & 0x200 ? "\n" : " ");
                const size_t n = std::min(piece.size(), chunk.size() - at);
                std::memcpy(chunk.data() + at, piece.data(), n);
                at += n;
            }
        } else {
            for (size_t k = 0; k < chunk.size(); k += 8) {
                const uint64_t r = random();
                std::memcpy(chunk.data() + k, &r, 8);
            }
        }
        const auto n =
            static_cast<std::streamsize>(std::min<uint64_t>(chunk.size(), size - written));
        out.write(chunk.data(), n);
        written += static_cast<uint64_t>(n);
    }
}

void BenchUnzipLargeEntry(const std::string& work, const std::string& name, uint64_t size,
                          bool deflated) {
    const std::string tree = work + "/tree";
    const std::string archive = work + "/" + name + ".zip";
    fs::create_directories(tree);
    MakeLargeFile(tree + "/" + name + ".bin", size, deflated);
    if (!Run("cd " + Quote(tree) + " && zip -q " + (deflated ? "-6" : "-0") + " " + Quote(archive) +
             " " + name + ".bin"))
        return;
    fs::remove_all(tree);
    CompareExtraction(work, archive,
                      std::string("one ") + (deflated ? "deflated " : "stored ") +
                          std::to_string(size >> 20) + " MiB entry, " +
                          std::to_string(fs::file_size(archive) >> 20) + " MiB archive");
}

void BenchUnzipLarge(const std::string& work) {
    BenchUnzipLargeEntry(work, "stored", (uint64_t{256} << 20) / g_sizeDivisor, false);
    BenchUnzipLargeEntry(work, "deflated", (uint64_t{1} << 30) / g_sizeDivisor, true);
}

void BenchUnzipMany(const std::string& work) {
    BenchUnzipShape(work, "many", 20000, 4096, 12288);
}

void BenchUnzip(const std::string& work) {
    std::printf(
        "MapleNook writes into a staging folder beside the destination and renames it into\n"
        "place; all three check each entry's CRC-32.\n");
    BenchUnzipShape(work, "large", 10, 800000, 1200000);
    BenchUnzipShape(work, "small", 1000, 4096, 12288);
    BenchUnzipMany(work);
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
    const auto series = bench::Alternate(
        g_rounds,
        [&] {
            return bench::RunChild({bench::BenchTool(), "md5", file});
        },
        [&] {
            return bench::RunChild({"md5sum", file});
        });
    if (series)
        bench::Print("MD5 of a 512 MiB file (in the page cache)", "BenchTool md5", "md5sum",
                     *series);
    fs::remove(file);
}

// Runs `program version` with output on a pipe read to the end: what a direct exec costs.
bool ExecDirectly(const std::string& program) {
    int fds[2];
    if (pipe(fds) != 0) return false;
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
    return rc == 0 && waitpid(pid, nullptr, 0) == pid;
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
    const auto series = bench::Alternate(
        10 * g_rounds,
        [&] {
            return bench::RunHere([&] {
                output = lib.RunAdb("version");
                return output.find("Android Debug Bridge") != std::string::npos;
            });
        },
        [&] { return bench::RunHere([&] { return ExecDirectly(lib.adbPath()); }); });
    if (series)
        bench::Print("adb version, both started from this process", "RunAdb", "posix_spawn + pipe",
                     *series);
}

}  // namespace

int main(int argc, char** argv) {
    const char* base = std::getenv("MAPLENOOK_BENCH_DIR");
    std::string pattern = std::string(base                           ? base
                                      : fs::is_directory("/dev/shm") ? "/dev/shm"
                                                                     : "/tmp") +
                          "/maplenook-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const std::string work = pattern;
    std::printf("working in %s\n", work.c_str());
    const std::string only = argc > 1 ? argv[1] : "";
    if (argc > 2) g_rounds = std::max(1, std::atoi(argv[2]));
    if (argc > 3) g_sizeDivisor = std::max<uint64_t>(1, std::strtoull(argv[3], nullptr, 10));
    if (only.empty() || only == "unzip") BenchUnzip(work);
    if (only == "many") BenchUnzipMany(work);
    if (only.empty() || only == "large") BenchUnzipLarge(work);
    if (only.empty() || only == "digest") BenchDigest(work);
    if (only.empty() || only == "adb") BenchRunAdb(work);
    fs::remove_all(work);
    return 0;
}
