// The maker's signature on packages, with Debian's minisign as the maker's tool, the real
// downloader and extractor, and a loopback site: only archives the build's key signed reach the
// cache, checked over the very bytes extracted, a resumed download included.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <utility>

#include "LoopbackHttp.h"
#include "NotifyArgs.h"
#include "ScratchFolder.h"
#include "package/BrushWorkflow.h"
#include "package/PackageCache.h"
#include "package/PackageServices.h"

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

const Strings kRefused{"tool','download", "tool','unzip", "tool','run.error','signature"};
const Strings kRan{"tool','download", "tool','unzip", "tool','run"};

// A maker (two key pairs) and its site: <dir>/site/<name> served as /x/<name>.
struct SignedSite {
    ScratchFolder dir;
    std::string cache = dir / "cache";
    loopback::HttplibServer http;
    std::mutex mutex;
    Strings notes;
    Strings started;

    SignedSite() {
        http.server.Get(R"(/x/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string file = dir / ("site/" + req.matches[1].str());
            if (!fs::exists(file))
                res.status = 404;
            else
                res.set_content(ReadFile(file), "application/octet-stream");
        });
        EXPECT_TRUE(http.Start());
        // A cache the program refuses sends every run to the default cache instead.
        EXPECT_EQ(CacheFolderRefusalMessage(cache, RealPackageServices().moduleDirectory), "")
            << cache << ": TMPDIR must lead to folders only this user may write";
        fs::create_directories(dir / "site");
        fs::create_directories(dir / "src");
        for (const std::string name : {"maker", "other"}) {
            Run("minisign -G -W -p " + ShellQuote(dir / (name + ".pub")) + " -s " +
                ShellQuote(dir / (name + ".key")));
        }
    }
    static void Run(const std::string& command) {
        ASSERT_EQ(std::system((command + " >/dev/null").c_str()), 0) << command;
    }
    // The base64 line of a key pair's minisign.pub.
    std::string Key(const std::string& name) {
        const std::string text = ReadFile(dir / (name + ".pub"));
        const auto line = text.find('\n');
        return text.substr(line + 1, text.find('\n', line + 1) - line - 1);
    }
    // site/<name>: a package holding tool.exe (and `payload`), zipped by Info-ZIP.
    void Zip(const std::string& name, const std::string& payload = "payload") {
        WriteFile(dir / "src/tool.exe", "#!/bin/sh\n", 0755);
        WriteFile(dir / "src/payload.bin", payload);
        const std::string made = dir / "made.zip";
        Run("cd " + ShellQuote(dir / "src") + " && zip -q -0 -r " + ShellQuote(made) + " .");
        fs::rename(made, dir / ("site/" + name));
    }
    void Sign(const std::string& name, const std::string& key = "maker",
              const std::string& options = "") {
        Run("minisign -S " + options + " -s " + ShellQuote(dir / (key + ".key")) + " -m " +
            ShellQuote(dir / ("site/" + name)) + " -t " + ShellQuote("maker's tool " + name));
    }
    std::string Url(const std::string& name) { return http.BaseUrl() + "/x/" + name; }
    std::shared_ptr<CBrushWorkflow> Flow(const std::string& key) {
        BrushServices s = RealPackageServices();
        s.packageKey = key;
        s.defaultCacheFolder = dir / "default-cache";  // never the user's own, others' runs in it
        s.notifyPage = [this](const std::string&, const std::vector<std::string>& args) {
            std::lock_guard<std::mutex> lock(mutex);
            notes.push_back(JoinedNotifyArgs(args));
        };
        s.startProgram = [this](const std::string&, const std::string& file) {
            started.push_back(file);
            return fs::exists(file);
        };
        s.queueTask = [](std::function<void()> task) { task(); };
        auto flow = std::make_shared<CBrushWorkflow>(s);
        flow->SetPageProgress(false);  // causes on, no progress
        return flow;
    }
    // Runs tool.exe from site/<name> with `key`; the notes it sent.
    Strings RunTool(const std::string& name, const std::string& key) {
        notes.clear();
        Flow(key)->EnsureAndRun(cache, "tool.exe", Url(name));
        return notes;
    }
    // What the cache holds, staging folder included.
    Strings CacheEntries() {
        Strings names;
        if (!fs::exists(cache)) return names;
        for (const auto& entry : fs::recursive_directory_iterator(cache))
            names.push_back(fs::relative(entry.path(), cache).string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST(PackageSignature, SignedPackagesRunInBothFormsAndUnsignedOnesOnlyWithoutAKey) {
    SignedSite site;
    // The key id reads as minisign names it, which is how the mark will record it.
    const auto key = ParseMinisignKey(site.Key("maker"));
    ASSERT_TRUE(key);
    // minisign prints the id as a number, without leading zeros.
    const std::string id = KeyIdText(key->keyId);
    EXPECT_NE(ReadFile(site.dir / "maker.pub")
                  .find("public key " + id.substr(id.find_first_not_of('0')) + "\n"),
              std::string::npos);
    site.Zip("tool.zip");
    site.Sign("tool.zip");
    EXPECT_EQ(site.RunTool("tool.zip", site.Key("maker")), kRan);
    EXPECT_EQ(site.started.size(), 1u);

    // The legacy form signs the archive itself rather than its BLAKE2b-512 hash.
    fs::remove_all(site.cache);
    site.Sign("tool.zip", "maker", "-l");
    EXPECT_EQ(site.RunTool("tool.zip", site.Key("maker")), kRan);

    // A build without a key neither asks for a signature nor minds its absence.
    fs::remove_all(site.cache);
    fs::remove(site.dir / "site/tool.zip.minisig");
    EXPECT_EQ(site.RunTool("tool.zip", ""), kRan);
    EXPECT_TRUE(fs::exists(site.cache + "/tool/payload.bin"));
}

TEST(PackageSignature, AnythingButTheMakersSignatureOfTheseBytesExtractsNothingAndLeavesNothing) {
    SignedSite site;
    site.Zip("other.zip", "other bytes");
    site.Sign("other.zip");
    const std::string otherSignature = ReadFile(site.dir / "site/other.zip.minisig");
    const std::string sigPath = site.dir / "site/tool.zip.minisig";
    const std::vector<std::pair<std::string, std::function<void()>>> forgeries{
        {"a flipped byte in the archive",
         [&] {
             std::string body = ReadFile(site.dir / "site/tool.zip");
             body[body.find("payload")] ^= 1;
             WriteFile(site.dir / "site/tool.zip", body);
         }},
        {"a signature of other bytes", [&] { WriteFile(sigPath, otherSignature); }},
        {"a signature by another key", [&] { site.Sign("tool.zip", "other"); }},
        {"no signature", [&] { fs::remove(sigPath); }},
        {"a malformed signature file",
         [&] {
             std::string text = ReadFile(sigPath);
             WriteFile(sigPath, text.substr(0, text.find("trusted comment:")));
         }},
        {"a changed trusted comment",
         [&] {
             std::string text = ReadFile(sigPath);
             const auto at = text.find("maker's tool");
             WriteFile(sigPath, text.replace(at, 5, "taker"));
         }},
    };
    for (const auto& [what, forge] : forgeries) {
        SCOPED_TRACE(what);
        site.Zip("tool.zip");
        site.Sign("tool.zip");
        forge();
        site.started.clear();
        EXPECT_EQ(site.RunTool("tool.zip", site.Key("maker")), kRefused);
        EXPECT_TRUE(site.started.empty());
        // Not a byte of it in the cache: no package folder, no archive, no signature file.
        EXPECT_EQ(site.CacheEntries(), (Strings{".maplenook"}));
    }
    // A build key that does not read vouches for nothing.
    site.Zip("tool.zip");
    site.Sign("tool.zip");
    EXPECT_EQ(site.RunTool("tool.zip", "RWQ" + std::string(53, 'A')), kRefused);
    EXPECT_EQ(site.CacheEntries(), (Strings{".maplenook"}));
}

TEST(PackageSignature, AResumedDownloadIsCheckedWholeAfterItsLastByte) {
    SignedSite site;
    site.Zip("tool.zip", std::string(1u << 20, 'p'));
    site.Sign("tool.zip");
    const std::string signature = ReadFile(site.dir / "site/tool.zip.minisig");
    const std::string genuine = ReadFile(site.dir / "site/tool.zip");
    std::string tampered = genuine;
    tampered[genuine.size() * 8 / 10] ^= 1;  // in the part that comes after the cut
    // The first answer is cut at 60 %; the rest comes by range from `body`.
    const std::string* body = &genuine;
    bool cut = true;
    loopback::RawHttpServer raw([&](const std::string& request) {
        if (request.find(".minisig ") != std::string::npos) return loopback::OkResponse(signature);
        const auto range = request.find("\r\nRange: bytes=");
        const size_t from = range == std::string::npos ? 0 : std::stoul(request.substr(range + 15));
        std::string head = from == 0
                               ? "HTTP/1.1 200 OK\r\n"
                               : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                     std::to_string(from) + "-" + std::to_string(body->size() - 1) +
                                     "/" + std::to_string(body->size()) + "\r\n";
        head +=
            "ETag: \"v1\"\r\nContent-Length: " + std::to_string(body->size() - from) + "\r\n\r\n";
        const size_t send = std::exchange(cut, false) ? body->size() * 6 / 10 : body->size() - from;
        return head + body->substr(from, send);
    });
    const std::string url = raw.BaseUrl() + "/pkg/tool.zip";
    const auto run = [&] {
        site.notes.clear();
        site.Flow(site.Key("maker"))->EnsureAndRun(site.cache, "tool.exe", url);
        return site.notes.back();
    };
    // Bytes changed past the cut are caught, though the first part was the maker's.
    EXPECT_EQ(run(), "tool','download.error','network");
    body = &tampered;
    EXPECT_EQ(run(), "tool','run.error','signature");
    EXPECT_EQ(site.CacheEntries(), (Strings{".maplenook"}));
    // The same cut with the genuine rest runs.
    body = &genuine;
    cut = true;
    EXPECT_EQ(run(), "tool','download.error','network");
    EXPECT_EQ(run(), "tool','run");
    EXPECT_TRUE(ReadFile(site.cache + "/tool/payload.bin") == std::string(1u << 20, 'p'));
}

TEST(PackageSignature, ACheckedPackageStaysValidUntilTheBuildsKeyChanges) {
    SignedSite site;
    site.Zip("tool.zip");
    site.Sign("tool.zip");
    const Strings onlyRun{"tool','run"};
    EXPECT_EQ(site.RunTool("tool.zip", site.Key("maker")), kRan);
    EXPECT_EQ(site.RunTool("tool.zip", site.Key("maker")), onlyRun);
    // A build with another key trusts nothing the first key vouched for, and back again.
    site.Sign("tool.zip", "other");
    EXPECT_EQ(site.RunTool("tool.zip", site.Key("other")), kRan);
    EXPECT_EQ(site.RunTool("tool.zip", site.Key("other")), onlyRun);
    // The folder the other key vouched for stays as it was, and does not run.
    const size_t started = site.started.size();
    EXPECT_EQ(site.RunTool("tool.zip", site.Key("maker")), kRefused);
    EXPECT_EQ(site.started.size(), started);
    // What a build without a key fetched was never checked; such a build runs any package.
    EXPECT_EQ(site.RunTool("tool.zip", ""), onlyRun);
    fs::remove_all(site.cache + "/tool");
    EXPECT_EQ(site.RunTool("tool.zip", ""), kRan);
    EXPECT_EQ(site.RunTool("tool.zip", site.Key("other")), kRan);
}
