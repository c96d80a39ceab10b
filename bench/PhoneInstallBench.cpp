// Installing a 50 MiB phone package through Debian's adb to the emulated phone of demo/: the
// program's bridge runner (RunAdb "install -r \"<apk>\"") against "adb install -r <apk>" run
// by hand on the same file, through the same bridge server. Runs in a network namespace of its
// own (root), so the server on port 5037 is the benchmark's alone.
//
// PhoneInstallBench [rounds] [MiB]
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "BenchCommon.h"
#include "EmulatedPhone.h"
#include "PrivateNetwork.h"
#include "phone/ModuleLib.h"

namespace fs = std::filesystem;

namespace {

void WriteRandomFile(const std::string& path, size_t size) {
    std::mt19937_64 random(42);
    std::string bytes(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t value = random();
        std::memcpy(&bytes[i], &value, 8);
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string MakeWorkFolder() {
    const char* base = std::getenv("MAPLENOOK_BENCH_DIR");
    std::string pattern = std::string(base                           ? base
                                      : fs::is_directory("/dev/shm") ? "/dev/shm"
                                                                     : "/tmp") +
                          "/maplenook-bench-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// The module folder with Debian's tools, a private runtime and home; false when adb is missing.
bool LayOut(const std::string& work) {
    fs::create_directories(work + "/module/adb");
    for (const char* tool : {"adb", "aapt", "fastboot"}) {
        std::error_code error;
        fs::copy_file(fs::canonical(std::string("/usr/bin/") + tool, error),
                      work + "/module/adb/" + tool, error);
        if (error) return false;
    }
    for (const char* name : {"run", "home", "tmp"}) mkdir((work + "/" + name).c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", (work + "/run").c_str(), 1);
    setenv("HOME", (work + "/home").c_str(), 1);
    setenv("TMPDIR", (work + "/tmp").c_str(), 1);
    unsetenv("ANDROID_ADB_SERVER_PORT");
    unsetenv("ADB_SERVER_SOCKET");
    return true;
}

void RemoveInstalled(const std::string& record) {
    for (const auto& entry : fs::directory_iterator(record))
        if (entry.path().filename().string().rfind("install-", 0) == 0) fs::remove(entry.path());
}

bool BenchInstall(const std::string& work, int rounds, size_t mebibytes) {
    CModuleLib lib;
    if (!lib.Init(work + "/module")) return false;
    testsupport::EmulatedPhone phone(work + "/record");
    if (phone.Address().empty()) return false;
    lib.RunAdb("connect " + phone.Address());
    bool connected = false;
    for (int i = 0; i < 100 && !connected; ++i) {
        connected = lib.RunAdb("devices").find(phone.Address() + "\tdevice") != std::string::npos;
        if (!connected) usleep(100000);
    }
    const std::string apk = work + "/phone.apk";
    WriteRandomFile(apk, mebibytes << 20);
    const auto series = bench::Alternate(
        rounds,
        [&] {
            return bench::RunHere([&] {
                return lib.RunAdb("install -r \"" + apk + "\"").find("Success") !=
                       std::string::npos;
            });
        },
        [&] {
            return bench::RunChild({lib.adbPath(), "install", "-r", apk});
        },
        [&] { RemoveInstalled(phone.RecordDir()); });
    if (connected && series)
        bench::Print(
            "install of a " + std::to_string(mebibytes) + " MiB package to the emulated phone",
            "RunAdb install -r", "adb install -r", *series);
    lib.RunAdb("kill-server");
    return connected && series;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const size_t mebibytes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    testsupport::PrivateNetwork network;
    if (!network.Entered()) {
        std::printf("PhoneInstallBench skipped: %s\n", network.Reason().c_str());
        return 0;
    }
    const std::string work = MakeWorkFolder();
    if (work.empty()) return 1;
    std::printf("working in %s\n", work.c_str());
    const bool ok = LayOut(work) && BenchInstall(work, rounds, mebibytes);
    fs::remove_all(work);
    if (!ok) std::printf("PhoneInstallBench failed: no adb, no phone or an install failed\n");
    return ok ? 0 : 1;
}
