// Zip extraction of hostile archives, each into a fresh folder: nothing may appear outside that
// folder, and nothing inside it may be a symbolic link or carry a set-user-id, set-group-id or
// sticky bit, whatever the archive says. Anything else aborts.
//
// Input: the archive's bytes.
#include "package/ZipExtract.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "os/DiagnosticLog.h"

namespace fs = std::filesystem;

// Every damaged archive is logged; the log is not what is fuzzed, and writing it would only
// slow the runs down.
namespace os {
void Log(LogLevel, const std::string&, const std::string&) {}
bool LogEnabled(LogLevel) {
    return false;
}
}  // namespace os

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
    std::fprintf(stderr, "zip extraction property broken: %s: %s\n", what.c_str(), path.c_str());
    std::abort();
}

// The work area: <base>/archive.zip and <base>/a/b/work/<n>/, the fresh folder. Escapes by
// one to three levels would land in a folder that is checked; deeper ones are refused by the
// same path rule that refuses these.
struct WorkArea {
    std::string base;
    std::string archive;
    std::string work;
};

const WorkArea& Area() {
    static const WorkArea area = [] {
        // On tmpfs when there is one: every run writes and removes a whole tree.
        const char* tmp = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/maplenook-zipfuzz-XXXXXX";
        if (mkdtemp(base.data()) == nullptr) std::abort();
        static const std::string kept = base;
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(kept, ignored);
        });
        WorkArea a{base, base + "/archive.zip", base + "/a/b/work"};
        fs::create_directories(a.work);
        return a;
    }();
    return area;
}

// Exactly these names in `folder`, nothing else.
void RequireOnly(const std::string& folder, const std::set<std::string>& names) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (names.count(name) == 0)
            Fail("something landed outside the destination", folder + "/" + name);
    }
    if (error) Fail("a work folder cannot be listed", folder);
}

// Walks the destination without following links; opens every folder so that it can be
// walked and removed, whatever mode the archive gave it.
void CheckTree(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) Fail("an entry vanished while listed", path);
    if (S_ISLNK(info.st_mode)) Fail("a symbolic link appeared", path);
    if ((info.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) != 0)
        Fail("a set-id or sticky bit appeared", path);
    if (!S_ISDIR(info.st_mode)) {
        if (!S_ISREG(info.st_mode)) Fail("something other than a file or folder appeared", path);
        return;
    }
    chmod(path.c_str(), 0700);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path, error)) CheckTree(entry.path().string());
    if (error) Fail("an extracted folder cannot be listed", path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const WorkArea& area = Area();
    FILE* f = std::fopen(area.archive.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();

    static uint64_t run = 0;
    const std::string name = std::to_string(++run);
    const std::string destination = area.work + "/" + name;
    (void)ExtractZip(area.archive, destination + "/");

    RequireOnly(area.base, {"archive.zip", "a"});
    RequireOnly(area.base + "/a", {"b"});
    RequireOnly(area.base + "/a/b", {"work"});
    // Work in progress goes to the staging folder beside the destination, and none is left;
    // only the record of the marks of published folders stays there.
    RequireOnly(area.work, {name, ".maplenook"});
    if (fs::exists(area.work + "/.maplenook")) RequireOnly(area.work + "/.maplenook", {"marks"});
    if (fs::exists(fs::symlink_status(destination))) CheckTree(destination);

    std::error_code error;
    fs::remove_all(destination, error);
    if (error) Fail("the destination cannot be removed", destination);
    return 0;
}
