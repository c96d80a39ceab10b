// The diagnostic log: what the real package path writes there when it fails, and the file's one
// rotation.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "ChildRun.h"
#include "LoopbackHttp.h"
#include "ScratchFolder.h"
#include "TempDir.h"
#include "os/DiagnosticLog.h"
#include "package/BrushWorkflow.h"
#include "package/PackageCache.h"
#include "package/PackageServices.h"

namespace {

namespace fs = std::filesystem;

// Points XDG_STATE_HOME at `folder` for one test and puts the old value back.
class StateHome {
  public:
    explicit StateHome(const std::string& folder) {
        if (const char* old = std::getenv("XDG_STATE_HOME")) old_ = old;
        setenv("XDG_STATE_HOME", folder.c_str(), 1);
    }
    ~StateHome() {
        if (old_)
            setenv("XDG_STATE_HOME", old_->c_str(), 1);
        else
            unsetenv("XDG_STATE_HOME");
    }

  private:
    std::optional<std::string> old_;
};

// Serves <dir>/site/<name> as /x/<name>, 404 for a name that is not there, and runs packages
// through the real downloader, extractor and cache with `cache` as the setting.
struct PackageSite {
    ScratchFolder dir;
    StateHome state{dir / "state"};
    std::string log = dir / "state/MapleNook/maplenook.log";
    loopback::HttplibServer http;

    PackageSite() {
        fs::create_directories(dir / "site");
        http.server.Get(R"(/x/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string file = dir / ("site/" + req.matches[1].str());
            if (fs::exists(file))
                res.set_content(ReadFile(file), "application/zip");
            else
                res.status = 404;
        });
        EXPECT_TRUE(http.Start());
    }
    // A zip of one entry `name` made by Python's zipfile from the expression `data`.
    void Zip(const std::string& archive, const std::string& name, const std::string& data,
             const std::string& method) {
        const std::string script = "import zipfile\nwith zipfile.ZipFile('" +
                                   (dir / ("site/" + archive)) + "', 'w', zipfile." + method +
                                   ") as z:\n    z.writestr('" + name + "', " + data + ")\n";
        WriteFile(dir / "make.py", script);
        ASSERT_EQ(std::system(("python3 " + ShellQuote(dir / "make.py")).c_str()), 0);
    }
    std::string Url(const std::string& name) { return http.BaseUrl() + "/x/" + name; }
    int Run(const std::string& cache, const std::string& fileName, const std::string& archive) {
        BrushServices services = RealPackageServices();
        // A cache the program refused would send the run to the default cache instead.
        EXPECT_EQ(CacheFolderRefusalMessage(cache, services.moduleDirectory), "")
            << cache << ": TMPDIR must lead to folders only this user may write";
        services.defaultCacheFolder = dir / "default-cache";  // never the user's own
        services.startProgram = [](const std::string&, const std::string&) { return true; };
        services.queueTask = [](std::function<void()> task) { task(); };
        return std::make_shared<CBrushWorkflow>(services)->EnsureAndRun(cache, fileName,
                                                                        Url(archive));
    }
    bool Logged(const std::string& line) { return ReadFile(log).find(line) != std::string::npos; }
};

TEST(DiagnosticLog, PackageFailuresAreLoggedWhereTheyHappenWithTheirCause) {
    PackageSite site;
    const std::string cache = site.dir / "cache";
    EXPECT_EQ(site.Run(cache, "gone.exe", "gone.zip"), 0);
    EXPECT_TRUE(site.Logged("maplenook: error: download failed: " + site.Url("gone.zip") +
                            ": HTTP status 404\n"))
        << ReadFile(site.log);

    // One byte of the program changed after the archive was made.
    site.Zip("broken.zip", "tool.exe", "b'#!/bin/sh\\n' + b'A' * 4000", "ZIP_STORED");
    std::string bytes = ReadFile(site.dir / "site/broken.zip");
    bytes[bytes.find("AAAA") + 100] = 'B';
    WriteFile(site.dir / "site/broken.zip", bytes);
    EXPECT_EQ(site.Run(cache, "tool.exe", "broken.zip"), 0);
    EXPECT_TRUE(site.Logged(": entry \"tool.exe\": CRC-32 mismatch\n")) << ReadFile(site.log);
    EXPECT_FALSE(fs::exists(cache + "/tool"));
}

TEST(DiagnosticLog, FullDiskIsLoggedWithTheRoomNeededAndFree) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    PackageSite site;
    const std::string disk = site.dir / "disk";
    fs::create_directories(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=24m,mode=0755") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    // 12 MiB that cannot be compressed, with the spare kept beside a download, do not fit.
    site.Zip("wide.zip", "wide.exe", "__import__('os').urandom(12 << 20)", "ZIP_STORED");
    EXPECT_EQ(site.Run(disk + "/cache", "wide.exe", "wide.zip"), 0);
    EXPECT_TRUE(site.Logged("maplenook: error: download refused: " + site.Url("wide.zip")))
        << ReadFile(site.log);
    // A small archive whose 64 MiB of zeros do not fit once extracted.
    site.Zip("deep.zip", "deep.exe", "bytes(64 << 20)", "ZIP_DEFLATED");
    EXPECT_EQ(site.Run(disk + "/cache", "deep.exe", "deep.zip"), 0);
    EXPECT_TRUE(site.Logged("maplenook: error: extraction failed: ")) << ReadFile(site.log);
    EXPECT_TRUE(site.Logged(" bytes needed, ")) << ReadFile(site.log);
}

TEST(DiagnosticLog, FileIsCappedWithOneRotation) {
    testsupport::TempDir dir;
    const std::string log = dir.File("logs/m.log");
    const std::string line(30, 'x');  // 31 bytes with its newline
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(os::AppendCappedLine(log, line, 100));
    EXPECT_EQ(ReadFile(log).size(), 93u);
    ASSERT_TRUE(os::AppendCappedLine(log, "the fourth", 100));  // 104 bytes would pass
    EXPECT_EQ(ReadFile(log), "the fourth\n");
    EXPECT_EQ(ReadFile(log + ".1").size(), 93u);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(os::AppendCappedLine(log, line, 100));
    EXPECT_EQ(ReadFile(log + ".1").substr(0, 11), "the fourth\n")
        << "the older rotation is replaced";
    EXPECT_LE(ReadFile(log).size(), 100u);
}

// The log's path is in a folder of the user's, but whatever sits there is not trusted: a link
// is never followed, a FIFO never waited on, and logged names cannot forge lines.
TEST(DiagnosticLog, PlantedLinksAndFifosAreNotWrittenAndNamesCannotForgeLines) {
    testsupport::TempDir dir;
    const std::string target = dir.File("target.txt");
    testsupport::WriteFile(target, "keep\n");
    const std::string link = dir.File("link.log");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(os::AppendCappedLine(link, "line", 1000));
    EXPECT_EQ(ReadFile(target), "keep\n");

    const std::string fifo = dir.File("fifo.log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto outcome = testsupport::RunInChild(
        [&] { return os::AppendCappedLine(fifo, "line", 1000) ? 1 : 0; }, std::chrono::seconds(5));
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << "a FIFO blocked the logger";

    EXPECT_EQ(os::EscapedForLog("tool\n2026-01-01 maplenook: error: forged\x1b[31m\\"),
              "tool\\x0a2026-01-01 maplenook: error: forged\\x1b[31m\\x5c");
    EXPECT_EQ(os::EscapedForLog("工具 ü"), "工具 ü");
}

}  // namespace
