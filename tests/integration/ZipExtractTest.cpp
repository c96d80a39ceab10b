#include "package/ZipExtract.h"

#include "ChildRun.h"
#include "ScratchFolder.h"

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstring>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string Fingerprint(const std::string& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return std::to_string(bytes.size()) + ":" + std::to_string(hash);
}

// Every entry below `root`: type, permission bits, and for files their content and time.
// What a folder holds, leaving out the program's own bookkeeping: the mark and manifest of a
// package folder, the staging folder itself (what is staged in it still shows) and the records
// of the marks there.
std::map<std::string, std::string> TreeOf(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        const std::string name = entry.path().filename().string();
        if (name == ".maplenook-package" || name == ".maplenook-files" || name == ".maplenook" ||
            relative.find(".maplenook/marks") != std::string::npos)
            continue;
        struct stat info {};
        lstat(entry.path().c_str(), &info);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", info.st_mode & 07777);
        std::string facts = mode;
        if (S_ISLNK(info.st_mode)) {
            facts = "link " + facts;
        } else if (S_ISDIR(info.st_mode)) {
            facts = "dir " + facts;
        } else {
            facts = "file " + facts + " " + std::to_string(info.st_mtime) + " " +
                    Fingerprint(ReadFile(entry.path()));
        }
        tree[fs::relative(entry.path(), root).string()] = facts;
    }
    return tree;
}

// The entries of `folder`; in a staging folder, what is staged (not the marks' records).
std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    const bool staging = fs::path(folder).filename() == ".maplenook";
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (staging && entry.path().filename() == "marks") continue;
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    return bytes;
}

void SetTime(const std::string& path, time_t when) {
    utimbuf times{when, when};
    utime(path.c_str(), &times);
}

bool Unzip(const std::string& archive, const std::string& folder) {
    return std::system(("unzip -o -q " + ShellQuote(archive) + " -d " + ShellQuote(folder) +
                        " >/dev/null 2>&1")
                           .c_str()) == 0;
}

void ZipFolder(const std::string& folder, const std::string& archive, const std::string& options) {
    ASSERT_EQ(std::system(("cd " + ShellQuote(folder) + " && LC_ALL=C.UTF-8 zip -q -r " + options +
                           " " + ShellQuote(archive) + " .")
                              .c_str()),
              0);
}

// Puts a package folder at `dest` holding one file, the way a package lands: extracted by the
// program, so that it carries the program's mark and a later extraction may replace it.
void PlacePrevious(const std::string& dest, const std::string& name, const std::string& content,
                   unsigned mode = 0644) {
    const std::string src = dest + ".previous-src";
    WriteFile(src + "/" + name, content, mode);
    ZipFolder(src, src + ".zip", "");
    ASSERT_EQ(ExtractZip(src + ".zip", dest), ExtractResult::Done);
    fs::remove_all(src);
    fs::remove(src + ".zip");
}

// Runs a python3 zipfile script; `archive` is sys.argv[1].
void PythonZip(const std::string& archive, const std::string& body) {
    ScratchFolder scripts;
    const std::string script = scripts / "make.py";
    WriteFile(script,
              "import sys, zipfile\n"
              "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
              "def add(name, data, mode=0o100644, date=(2001, 2, 3, 4, 5, 6), system=3,\n"
              "        method=zipfile.ZIP_DEFLATED, attr=None):\n"
              "    i = zipfile.ZipInfo(name, date_time=date)\n"
              "    i.compress_type = method\n"
              "    i.create_system = system\n"
              "    i.external_attr = attr if attr is not None else mode << 16\n"
              "    z.writestr(i, data)\n" +
                  body + "z.close()\n");
    ASSERT_EQ(
        std::system(("/usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(archive)).c_str()),
        0);
}

// A tmpfs of `size` mounted at `path` for one test, unmounted afterwards.
class SmallTmpfs {
  public:
    SmallTmpfs(const std::string& path, const std::string& size) : path_(path) {
        fs::create_directories(path);
        const std::string options = "size=" + size + ",mode=0755";
        mounted_ =
            mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
        if (!mounted_) error_ = std::strerror(errno);
    }
    ~SmallTmpfs() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }

  private:
    std::string path_;
    bool mounted_ = false;
    std::string error_;
};

// Writes zeros to a new file `path` until its file system is full.
void FillUp(const std::string& path) {
    std::ofstream filler(path, std::ios::binary);
    const std::string zeros(1 << 16, '\0');
    while (filler.write(zeros.data(), zeros.size())) {
    }
}

// A tree with nested folders, empty files and folders, unicode names, modes and times.
void MakeSampleTree(const std::string& root) {
    WriteFile(root + "/top.txt", "hello\n", 0644);
    WriteFile(root + "/nested/deeper/deepest/file.bin", RandomBytes(300000, 1), 0644);
    WriteFile(root + "/empty.txt", "", 0644);
    WriteFile(root + "/空 目录/文件 ü.txt", "unicode\n", 0640);
    WriteFile(root + "/exec.sh", "#!/bin/sh\necho hi\n", 0755);
    WriteFile(root + "/private.key", RandomBytes(1000, 2), 0600);
    WriteFile(root + "/readonly.txt", "do not touch\n", 0444);
    fs::create_directories(root + "/emptydir");
    time_t when = 1273129689;  // odd seconds: the DOS date alone could not hold them
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) SetTime(entry.path(), when += 3601);
    }
}

}  // namespace

TEST(ExtractZip, ZipMadeArchiveMatchesUnzipAndTheSource) {
    ScratchFolder dir;
    MakeSampleTree(dir / "src");
    ZipFolder(dir / "src", dir / "sample.zip", "");
    ASSERT_EQ(ExtractZip(dir / "sample.zip", dir / "ours"), ExtractResult::Done);
    ASSERT_TRUE(Unzip(dir / "sample.zip", dir / "theirs"));
    const auto ours = TreeOf(dir / "ours");
    EXPECT_EQ(ours.size(), 12u);
    EXPECT_EQ(ours, TreeOf(dir / "theirs"));
    EXPECT_EQ(ours, TreeOf(dir / "src"));
}

TEST(ExtractZip, CodeMadeArchiveMatchesUnzip) {
    ScratchFolder dir;
    PythonZip(dir / "code.zip",
              "add('folder/', b'', 0o40750)\n"
              "add('folder/inner/deep.txt', b'deep' * 10000, 0o100640)\n"
              "add('empty.bin', b'', 0o100600)\n"
              "add('ünïcødé/名前.txt', 'テキスト'.encode(), 0o100604)\n"
              "add('stored.bin', bytes(range(256)) * 100, 0o100755, method=zipfile.ZIP_STORED)\n"
              "add('dos.txt', b'from dos', date=(1999, 12, 31, 23, 59, 58), system=0, attr=0x20)\n"
              "add('zero-mode.txt', b'no mode', 0o100000)\n");
    ASSERT_EQ(ExtractZip(dir / "code.zip", dir / "ours"), ExtractResult::Done);
    ASSERT_TRUE(Unzip(dir / "code.zip", dir / "theirs"));
    auto ours = TreeOf(dir / "ours");
    auto theirs = TreeOf(dir / "theirs");
    // unzip takes permission bits of 0 literally; here they count as no mode at all.
    EXPECT_EQ(ours["zero-mode.txt"].substr(0, 9), "file 0644");
    EXPECT_EQ(theirs["zero-mode.txt"].substr(0, 9), "file 0000");
    ours.erase("zero-mode.txt");
    theirs.erase("zero-mode.txt");
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ(ours["folder"], "dir 0750");
    EXPECT_EQ(ours["dos.txt"].substr(0, 9), "file 0644");
    EXPECT_EQ(ours["ünïcødé/名前.txt"].substr(0, 9), "file 0604");
    EXPECT_EQ(ReadFile(dir / "ours/ünïcødé/名前.txt"), "テキスト");

    std::tm local{};
    local.tm_year = 99;
    local.tm_mon = 11;
    local.tm_mday = 31;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_sec = 58;
    local.tm_isdst = -1;
    EXPECT_EQ(fs::last_write_time(dir / "ours/dos.txt"),
              fs::file_time_type::clock::from_sys(
                  std::chrono::system_clock::from_time_t(std::mktime(&local))));
}

TEST(ExtractZip, EntriesLeavingTheDestinationAreSkippedAndTheRestExtracted) {
    ScratchFolder dir;
    const std::string absolute = dir / "abs/evil2.txt";
    PythonZip(dir / "hostile.zip",
              "add('../evil1.txt', b'x')\n"
              "add('" +
                  absolute +
                  "', b'x')\n"
                  "add('safe/../../evil3.txt', b'x')\n"
                  "add('..\\\\evil4.txt', b'x')\n"
                  "add('good.txt', b'good')\n"
                  "add('link', b'/etc/passwd', 0o120777)\n"
                  "add('win\\\\dir\\\\file.txt', b'win', system=0, attr=0)\n");
    const std::string dest = dir / "dest/inner";
    EXPECT_EQ(ExtractZip(dir / "hostile.zip", dest), ExtractResult::Done);
    EXPECT_FALSE(fs::exists(dir / "abs"));
    const auto tree = TreeOf(dir / "dest");
    std::vector<std::string> names;
    for (const auto& [name, facts] : tree) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"inner", "inner/good.txt", "inner/link", "inner/win",
                                               "inner/win/dir", "inner/win/dir/file.txt"}));
    EXPECT_EQ(ReadFile(dest + "/good.txt"), "good");
    // A link entry becomes a plain file with the link text, never a link with mode 0777.
    EXPECT_EQ(tree.at("inner/link").substr(0, 9), "file 0644");
    EXPECT_EQ(ReadFile(dest + "/link"), "/etc/passwd");
    EXPECT_EQ(ReadFile(dest + "/win/dir/file.txt"), "win");
}

TEST(ExtractZip, CorruptEntryFailsThePackageAndKeepsThePreviousFolder) {
    ScratchFolder dir;
    for (const std::string method : {"-0", "-9"}) {
        const std::string src = dir / ("src" + method);
        WriteFile(src + "/a.txt", std::string(500, 'A'));
        WriteFile(src + "/b.txt", RandomBytes(20000, 3));
        WriteFile(src + "/c.txt", std::string(500, 'C'));
        const std::string archive = dir / ("corrupt" + method + ".zip");
        ZipFolder(src, archive, method);
        // Damage the middle of b.txt's data: local header of b, then well into its data.
        std::string bytes = ReadFile(archive);
        const auto header = bytes.find("b.txt");
        ASSERT_NE(header, std::string::npos);
        bytes[header + 10000] = static_cast<char>(bytes[header + 10000] ^ 0x5A);
        bytes[header + 10001] = static_cast<char>(bytes[header + 10001] ^ 0xA5);
        WriteFile(archive, bytes);

        const std::string parent = dir / ("cache" + method);
        const std::string dest = parent + "/pkg";
        PlacePrevious(dest, "b.txt", "an older b");
        EXPECT_NE(ExtractZip(archive, dest), ExtractResult::Done) << method;
        // Nothing of the bad package shows: the previous folder is as it was, no staging left.
        EXPECT_EQ(TreeOf(parent).size(), 2u) << method;
        EXPECT_EQ(ReadFile(dest + "/b.txt"), "an older b") << method;
    }
}

TEST(ExtractZip, TruncatedMissingAndNonZipArchivesFail) {
    ScratchFolder dir;
    MakeSampleTree(dir / "src");
    ZipFolder(dir / "src", dir / "whole.zip", "");
    const std::string whole = ReadFile(dir / "whole.zip");
    WriteFile(dir / "half.zip", whole.substr(0, whole.size() / 2));
    WriteFile(dir / "tail.zip", whole.substr(0, whole.size() - 10));
    WriteFile(dir / "text.zip", "this is not a zip archive\n");
    for (const char* name : {"half.zip", "tail.zip", "text.zip", "missing.zip"}) {
        EXPECT_NE(ExtractZip(dir / name, dir / "out"), ExtractResult::Done) << name;
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(ExtractZip, DestinationFormsAndOnlyFoldersItMadeAreReplaced) {
    ScratchFolder dir;
    WriteFile(dir / "src/top.txt", "new top\n");
    WriteFile(dir / "src/run.sh", "#!/bin/sh\n", 0755);
    ZipFolder(dir / "src", dir / "small.zip", "");
    const std::string dest = dir / "dest";
    WriteFile(dest + "/top.txt", "the user's own\n", 0444);
    WriteFile(dir / "outside.txt", "keep me");

    // A folder the program did not make is never replaced, whatever it holds.
    EXPECT_EQ(ExtractZip(dir / "small.zip", dest + "/"), ExtractResult::Conflict);
    EXPECT_EQ(ReadFile(dest + "/top.txt"), "the user's own\n");
    EXPECT_TRUE(NamesIn(dir / ".maplenook").empty()) << "nothing staged is left";

    // One it made is, however it was changed since; nothing a link there points at is touched.
    fs::remove_all(dest);
    ASSERT_EQ(ExtractZip(dir / "small.zip", dest + "//"), ExtractResult::Done);
    fs::permissions(dest + "/top.txt", fs::perms::owner_read, fs::perm_options::replace);
    fs::remove(dest + "/run.sh");
    fs::create_symlink(dir / "outside.txt", dest + "/run.sh");
    ASSERT_EQ(ExtractZip(dir / "small.zip", dest), ExtractResult::Done);
    EXPECT_EQ(ReadFile(dest + "/top.txt"), "new top\n");
    EXPECT_FALSE(fs::is_symlink(dest + "/run.sh"));
    EXPECT_EQ(ReadFile(dest + "/run.sh"), "#!/bin/sh\n");
    EXPECT_EQ(ReadFile(dir / "outside.txt"), "keep me");
    ASSERT_EQ(ExtractZip(dir / "small.zip", dir / "second/"), ExtractResult::Done);
    EXPECT_EQ(ReadFile(dir / "second/top.txt"), "new top\n");
    // The root, an empty or a relative destination is no folder to extract into.
    for (const char* nowhere : {"", "/", "//", "  ", "relative"}) {
        EXPECT_EQ(ExtractZip(dir / "small.zip", nowhere), ExtractResult::Archive) << nowhere;
    }
}

// Archives from other tools with methods we do not extract, or whose directory disagrees
// with the data: each fails as a whole and leaves the previous package as it was.
TEST(ExtractZip, OtherMethodsAndDirectoryMismatchesFailTheWholePackage) {
    ScratchFolder dir;
    // patch(name, offset, value): rewrites a 32-bit field of the entry's central header.
    const std::string patch =
        "import struct\n"
        "def patch(name, offset, delta):\n"
        "    b = bytearray(open(sys.argv[1], 'rb').read())\n"
        "    at = b.find(b'PK\\x01\\x02')\n"
        "    while b[at + 46:at + 46 + len(name)] != name.encode(): at = b.find(b'PK\\x01\\x02', "
        "at + 4)\n"
        "    v = struct.unpack_from('<I', b, at + offset)[0]\n"
        "    struct.pack_into('<I', b, at + offset, (v + delta) & 0xffffffff)\n"
        "    open(sys.argv[1], 'wb').write(bytes(b))\n";
    const std::map<std::string, std::string> archives = {
        {"bzip2",
         "add('tool.exe', b'program', method=zipfile.ZIP_STORED)\n"
         "add('data.bin', b'x' * 5000, method=zipfile.ZIP_BZIP2)\n"},
        {"lzma",
         "add('tool.exe', b'program' * 100)\n"
         "add('data.bin', b'y' * 5000, method=zipfile.ZIP_LZMA)\n"},
        {"crc",
         "add('tool.exe', b'program', method=zipfile.ZIP_STORED)\n"
         "z.close()\npatch('tool.exe', 16, 1)\nz = zipfile.ZipFile(sys.argv[1], 'a')\n"},
        {"size",
         "add('tool.exe', b'program' * 100)\n"
         "z.close()\npatch('tool.exe', 24, 1)\nz = zipfile.ZipFile(sys.argv[1], 'a')\n"},
    };
    for (const auto& [kind, body] : archives) {
        const std::string archive = dir / (kind + ".zip");
        PythonZip(archive, patch + body);
        const std::string cache = dir / ("cache-" + kind);
        PlacePrevious(cache + "/tool", "tool.exe", "previous", 0755);
        EXPECT_NE(ExtractZip(archive, cache + "/tool"), ExtractResult::Done) << kind;
        EXPECT_EQ(TreeOf(cache).size(), 2u) << kind;
        EXPECT_EQ(ReadFile(cache + "/tool/tool.exe"), "previous") << kind;
    }
}

// A deflated entry whose data takes several reads extracts exactly. With its CRC-32 or a size
// changed in both headers (so only the data can tell), it is refused and nothing is published.
TEST(ExtractZip, LargeDeflatedEntryIsExactAndItsDataIsCheckedAgainstBothHeaders) {
    ScratchFolder dir;
    // Letters from a 16-letter alphabet: about 1.7 MiB deflated, more than one read block.
    std::string content = RandomBytes(3 << 20, 4);
    for (auto& c : content) c = static_cast<char>('a' + (c & 15));
    WriteFile(dir / "big.txt", content);
    // patch(local, central, delta): changes a 32-bit field of the local and central headers.
    const std::string make =
        "import struct\n"
        "def patch(local, central, delta):\n"
        "    b = bytearray(open(sys.argv[1], 'rb').read())\n"
        "    for at in (b.find(b'PK\\x03\\x04') + local, b.rfind(b'PK\\x01\\x02') + central):\n"
        "        v = struct.unpack_from('<I', b, at)[0]\n"
        "        struct.pack_into('<I', b, at, (v + delta) & 0xffffffff)\n"
        "    open(sys.argv[1], 'wb').write(bytes(b))\n"
        "add('big.txt', open('" +
        std::string(dir / "big.txt") +
        "', 'rb').read())\n"
        "z.close()\n";
    const std::map<std::string, std::string> changes = {
        {"none", ""},
        {"crc", "patch(14, 16, 1)\n"},
        {"size-1", "patch(22, 24, -1)\n"},
        {"size+1", "patch(22, 24, 1)\n"},
        {"cut", "patch(18, 20, -100)\n"},
    };
    for (const auto& [change, body] : changes) {
        const std::string archive = dir / (change + ".zip");
        PythonZip(archive, make + body + "z = zipfile.ZipFile(sys.argv[1], 'a')\n");
        const std::string cache = dir / ("cache-" + change);
        PlacePrevious(cache + "/pkg", "big.txt", "previous");
        if (change == "none") {
            ASSERT_EQ(ExtractZip(archive, cache + "/pkg"), ExtractResult::Done);
            EXPECT_TRUE(ReadFile(cache + "/pkg/big.txt") == content);
            continue;
        }
        EXPECT_NE(ExtractZip(archive, cache + "/pkg"), ExtractResult::Done) << change;
        EXPECT_EQ(TreeOf(cache).size(), 2u) << change;
        EXPECT_EQ(ReadFile(cache + "/pkg/big.txt"), "previous") << change;
    }
}

TEST(ExtractZip, BsdtarArchiveMatchesTheSource) {
    ScratchFolder dir;
    MakeSampleTree(dir / "src");
    ASSERT_EQ(std::system(("cd " + ShellQuote(dir / "src") +
                           " && LC_ALL=C.UTF-8 bsdtar --format zip -cf ../bsd.zip .")
                              .c_str()),
              0);
    ASSERT_EQ(ExtractZip(dir / "bsd.zip", dir / "ours"), ExtractResult::Done);
    EXPECT_EQ(TreeOf(dir / "ours"), TreeOf(dir / "src"));
}

// Names stored without the UTF-8 flag, as Chinese archivers write them: GBK bytes patched
// over ASCII stand-ins of the same length.
TEST(ExtractZip, UnflaggedNamesAreReadInTheLegacyCodePageThenCp437) {
    ScratchFolder dir;
    PythonZip(
        dir / "gbk.zip",
        "add('QQQQ.exe', b'flash tool', 0o100755)\n"
        "add('RRdir/SS.txt', b'backslash trail')\n"
        "add('TT.txt', b'not gbk')\n"
        "add('flagged/\\u540d.txt', b'utf-8')\n"
        "z.close()\n"
        "b = open(sys.argv[1], 'rb').read()\n"
        "for old, new in [(b'QQQQ', '\\u5237\\u673a'.encode('gbk')), (b'RR', b'\\x81\\x5c'),\n"
        "                 (b'SS', b'\\xcb\\xa2'), (b'TT', b'\\xff\\x81')]:\n"
        "    b = b.replace(old, new)\n"
        "open(sys.argv[1], 'wb').write(b)\n"
        "z = zipfile.ZipFile(sys.argv[1], 'a')\n");
    ASSERT_EQ(ExtractZip(dir / "gbk.zip", dir / "out"), ExtractResult::Done);
    EXPECT_EQ(ReadFile(dir / "out/刷机.exe"), "flash tool");
    // 0x5C is a GBK trail byte here, not a path separator.
    EXPECT_EQ(ReadFile(dir / "out/乗dir/刷.txt"), "backslash trail");
    EXPECT_EQ(ReadFile(dir / "out/\u00a0ü.txt"), "not gbk");
    EXPECT_EQ(ReadFile(dir / "out/flagged/名.txt"), "utf-8");
    EXPECT_EQ(TreeOf(dir / "out").size(), 6u);
}

// Modes within the umask, never set-id, set on what was extracted and not through a path.
TEST(ExtractZip, ModesStayWithinTheUmask) {
    ScratchFolder dir;
    PythonZip(dir / "modes.zip",
              "add('open/', b'', 0o40777)\n"
              "add('open/tool.exe', b'run me', 0o104777)\n"
              "add('shared.txt', b'shared', 0o100666)\n"
              "add('sticky/', b'', 0o41777)\n");
    const auto outcome = testsupport::RunInChild(
        [&] {
            umask(027);
            return ExtractZip(dir / "modes.zip", dir / "out") == ExtractResult::Done ? 0 : 1;
        },
        std::chrono::seconds(30));
    ASSERT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.output;
    const auto tree = TreeOf(dir / "out");
    EXPECT_EQ(tree.at("open"), "dir 0750");
    EXPECT_EQ(tree.at("sticky"), "dir 0750");
    EXPECT_EQ(tree.at("open/tool.exe").substr(0, 9), "file 0750");
    EXPECT_EQ(tree.at("shared.txt").substr(0, 9), "file 0640");
    struct stat info {};
    ASSERT_EQ(stat((dir / "out").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u);
}

// A kill in the middle of writing leaves the previous package whole, and the next extraction
// puts the new one in its place.
TEST(ExtractZip, KilledExtractionLeavesThePreviousPackage) {
    ScratchFolder dir;
    PythonZip(dir / "big.zip",
              "add('tool.exe', b'new program', 0o100755, method=zipfile.ZIP_STORED)\n"
              "add('payload.bin', bytes(range(256)) * (1 << 19), method=zipfile.ZIP_STORED)\n");
    const std::string cache = dir / "cache";
    // A staged file between empty and whole: the extraction is under way.
    const auto midway = [&] {
        return testsupport::StagedFileIsPartlyWritten(cache, "tool", "payload.bin", 128u << 20);
    };
    bool killed = false;
    // The extraction may outrun the watcher on a busy machine; then it simply runs again.
    for (int attempt = 0; attempt < 5 && !killed; ++attempt) {
        fs::remove_all(cache);
        PlacePrevious(cache + "/tool", "tool.exe", "old program", 0755);
        const pid_t child =
            testsupport::StartInChild([&] { (void)ExtractZip(dir / "big.zip", cache + "/tool"); });
        for (int i = 0; i < 20000 && !killed; ++i) {
            if (midway()) killed = kill(child, SIGKILL) == 0;
            if (ReadFile(cache + "/tool/tool.exe") != "old program") break;
        }
        testsupport::KillAndReap(child, SIGKILL);
    }
    ASSERT_TRUE(killed);
    EXPECT_EQ(ReadFile(cache + "/tool/tool.exe"), "old program");
    EXPECT_FALSE(fs::exists(cache + "/tool/payload.bin"));

    ASSERT_EQ(ExtractZip(dir / "big.zip", cache + "/tool"), ExtractResult::Done);
    EXPECT_EQ(ReadFile(cache + "/tool/tool.exe"), "new program");
    EXPECT_EQ(fs::file_size(cache + "/tool/payload.bin"), 128u << 20);
}

// Info-ZIP's "zip -fz" keeps every entry's size in the Zip64 field; the directory shows only
// 0xFFFFFFFF, which minizip passes on. Such an archive extracts as unzip extracts it, and a
// changed byte in stored data, which only a CRC check can see, fails it as a damaged archive.
TEST(ExtractZip, Zip64ArchiveMatchesUnzipAndAChangedByteIsRefused) {
    ScratchFolder dir;
    MakeSampleTree(dir / "src");
    ZipFolder(dir / "src", dir / "z64.zip", "-fz -n .bin");
    const std::string bytes = ReadFile(dir / "z64.zip");
    const auto central = bytes.find("PK\1\2");
    ASSERT_NE(central, std::string::npos);
    ASSERT_EQ(bytes.substr(central + 24, 4), std::string(4, '\xff'));

    ASSERT_EQ(ExtractZip(dir / "z64.zip", dir / "ours"), ExtractResult::Done);
    ASSERT_TRUE(Unzip(dir / "z64.zip", dir / "theirs"));
    EXPECT_EQ(TreeOf(dir / "ours"), TreeOf(dir / "theirs"));
    EXPECT_EQ(TreeOf(dir / "ours"), TreeOf(dir / "src"));

    std::string damaged = bytes;
    const auto stored = damaged.find("nested/deeper/deepest/file.bin");
    ASSERT_NE(stored, std::string::npos);
    damaged[stored + 100000] = static_cast<char>(damaged[stored + 100000] ^ 1);
    WriteFile(dir / "damaged.zip", damaged);
    EXPECT_EQ(ExtractZip(dir / "damaged.zip", dir / "ours"), ExtractResult::Archive);
    EXPECT_EQ(TreeOf(dir / "ours"), TreeOf(dir / "src"));
    EXPECT_EQ(NamesIn(dir.path()), (std::set<std::string>{".maplenook", "damaged.zip", "ours",
                                                          "src", "theirs", "z64.zip"}));
    EXPECT_TRUE(NamesIn(dir / ".maplenook").empty());
}

// Special entries become plain files that keep their permission bits (a link's say nothing),
// and nothing in a package is writable by group or others, whatever the umask allows.
TEST(ExtractZip, SpecialEntriesKeepTheirBitsAndNothingIsWritableByOthers) {
    ScratchFolder dir;
    PythonZip(dir / "special.zip",
              "add('fifo', b'pipe data', 0o010600)\n"
              "add('device', b'', 0o020640)\n"
              "add('link', b'target', 0o120777)\n"
              "add('open/', b'', 0o40777)\n"
              "add('open/shared.txt', b'shared', 0o100666)\n"
              "add('implied/file.txt', b'in a folder without an entry', 0o100664)\n");
    const auto outcome = testsupport::RunInChild(
        [&] {
            umask(002);
            return ExtractZip(dir / "special.zip", dir / "out") == ExtractResult::Done ? 0 : 1;
        },
        std::chrono::seconds(30));
    ASSERT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.output;
    const auto tree = TreeOf(dir / "out");
    for (const auto& [name, facts] :
         std::map<std::string, std::string>{{"fifo", "file 0600"},
                                            {"device", "file 0640"},
                                            {"link", "file 0644"},
                                            {"open", "dir 0755"},
                                            {"open/shared.txt", "file 0644"},
                                            {"implied", "dir 0755"},
                                            {"implied/file.txt", "file 0644"}}) {
        EXPECT_EQ(tree.at(name).substr(0, facts.size()), facts) << name;
    }
    EXPECT_EQ(ReadFile(dir / "out/fifo"), "pipe data");
}

// No room is told apart from a damaged archive: found before anything is written when the
// entries and the margin do not fit, and when a write fails because the disk filled meanwhile.
// Either way the previous package stays and no staging folder is left.
TEST(ExtractZip, FullDiskIsFoundBeforeAndWhileWriting) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    ScratchFolder dir;
    SmallTmpfs disk(dir / "disk", "8m");
    if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here: " << disk.error();
    const std::string dest = dir / "disk/cache/tool";
    PlacePrevious(dest, "tool.exe", "previous");
    const auto previousKept = [&] {
        return NamesIn(dir / "disk/cache") == std::set<std::string>{".maplenook", "tool"} &&
               NamesIn(dir / "disk/cache/.maplenook").empty() &&
               NamesIn(dest) ==
                   std::set<std::string>{".maplenook-files", ".maplenook-package", "tool.exe"} &&
               ReadFile(dest + "/tool.exe") == "previous";
    };
    // 7.5 MiB would fit in the 8 MiB, but not with the margin.
    PythonZip(dir / "large.zip", "add('large.bin', bytes(15 << 19))\n");
    PythonZip(dir / "fits.zip", "add('tool.exe', b'new')\nadd('data.bin', bytes(3 << 20))\n");
    EXPECT_EQ(ExtractZip(dir / "large.zip", dest), ExtractResult::Disk);
    EXPECT_TRUE(previousKept());

    bool filled = false;
    const auto fillOnce = [&](uint64_t, uint64_t) {
        if (!filled) FillUp(dir / "disk/filler");
        filled = true;
        return true;
    };
    EXPECT_EQ(ExtractZip(dir / "fits.zip", dest, fillOnce), ExtractResult::Disk);
    EXPECT_TRUE(filled);
    fs::remove(dir / "disk/filler");
    EXPECT_TRUE(previousKept());

    ASSERT_EQ(ExtractZip(dir / "fits.zip", dest), ExtractResult::Done);
    EXPECT_EQ(ReadFile(dest + "/tool.exe"), "new");
    EXPECT_EQ(fs::file_size(dest + "/data.bin"), 3u << 20);
}
