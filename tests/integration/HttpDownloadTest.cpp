#include "LoopbackHttp.h"
#include "TempDir.h"
#include "web/HttpDownload.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

struct DownloadFolder {
    testsupport::TempDir dir;
    fs::path root = dir.path();
    std::vector<std::string> Names(const fs::path& folder) const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 4099) & 0xFF);
    return bytes;
}

}  // namespace

TEST(DownloadToFolder, StoresBodyUnderLastSegmentWithQueryInNewNestedFolder) {
    loopback::HttplibServer http;
    http.server.Get("/pkg/tool.zip", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("zip bytes", "application/zip");
    });
    ASSERT_TRUE(http.Start());
    DownloadFolder temp;
    const fs::path folder = temp.root / "a b" / "c" / "d";

    EXPECT_EQ(DownloadToFolder(http.BaseUrl() + "/pkg/tool.zip?x=1&y=%41", folder.string()), 1);
    EXPECT_EQ(ReadFile(folder / "tool.zip?x=1&y=%41"), "zip bytes");
    // Nothing else is left beside it (no temporary file).
    EXPECT_EQ(temp.Names(folder), std::vector<std::string>{"tool.zip?x=1&y=%41"});
}

TEST(DownloadToFolder, SendsAPlainGetWithOnlyTheAcceptHeader) {
    loopback::RawHttpServer raw([](const std::string&) { return loopback::OkResponse("x"); });
    DownloadFolder temp;
    ASSERT_EQ(DownloadToFolder(raw.BaseUrl() + "/dir/file.bin", temp.root.string() + "/"), 1);
    const auto requests = raw.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string host = raw.BaseUrl().substr(7);
    EXPECT_EQ(requests[0],
              "GET /dir/file.bin HTTP/1.1\r\nHost: " + host + "\r\nAccept: */*\r\n\r\n");
}

TEST(DownloadToFolder, FollowsRedirectsAndNamesTheFileAfterTheRequestedUrl) {
    loopback::HttplibServer http;
    http.server.Get("/old.zip", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/files/new.zip");
    });
    http.server.Get("/files/new.zip", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("moved", "application/zip");
    });
    ASSERT_TRUE(http.Start());
    DownloadFolder temp;
    EXPECT_EQ(DownloadToFolder(http.BaseUrl() + "/old.zip", temp.root.string()), 1);
    EXPECT_EQ(ReadFile(temp.root / "old.zip"), "moved");
}

TEST(DownloadToFolder, ErrorStatusSavesNothingAndKeepsAnEarlierFile) {
    loopback::HttplibServer http;
    http.server.Get("/gone.zip", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not found page", "text/html");
    });
    http.server.Get("/broken.zip", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("server error page", "text/html");
    });
    ASSERT_TRUE(http.Start());
    DownloadFolder temp;
    const fs::path fresh = temp.root / "fresh";
    EXPECT_EQ(DownloadToFolder(http.BaseUrl() + "/gone.zip", fresh.string()), 0);
    EXPECT_TRUE(temp.Names(fresh).empty());

    std::ofstream(temp.root / "broken.zip") << "earlier good copy";
    EXPECT_EQ(DownloadToFolder(http.BaseUrl() + "/broken.zip", temp.root.string()), 0);
    EXPECT_EQ(ReadFile(temp.root / "broken.zip"), "earlier good copy");
    EXPECT_EQ(temp.Names(temp.root), std::vector<std::string>{"broken.zip"});
}

TEST(DownloadToFolder, RefusedConnectionCreatesNothing) {
    DownloadFolder temp;
    const std::string url =
        "http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort()) + "/pkg.zip";
    EXPECT_EQ(DownloadToFolder(url, (temp.root / "cache").string()), 0);
    EXPECT_FALSE(fs::exists(temp.root / "cache"));
}

TEST(DownloadToFolder, BodyCutOffMidTransferLeavesNoFile) {
    loopback::RawHttpServer raw([](const std::string&) {
        return "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(30000, 'z');
    });
    DownloadFolder temp;
    EXPECT_EQ(DownloadToFolder(raw.BaseUrl() + "/cut.zip", temp.root.string()), 0);
    EXPECT_TRUE(temp.Names(temp.root).empty());
}

TEST(DownloadToFolder, TargetsThatCannotBeWrittenGiveZero) {
    loopback::HttplibServer http;
    http.server.Get(".*", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("body", "text/plain");
    });
    ASSERT_TRUE(http.Start());
    DownloadFolder temp;
    // No file name at all.
    EXPECT_EQ(DownloadToFolder(http.BaseUrl() + "/dir/", temp.root.string()), 0);
    // The folder is a file.
    std::ofstream(temp.root / "plain") << "x";
    EXPECT_EQ(DownloadToFolder(http.BaseUrl() + "/a.zip", (temp.root / "plain").string()), 0);
    // The final name is taken by a folder.
    fs::create_directory(temp.root / "b.zip");
    EXPECT_EQ(DownloadToFolder(http.BaseUrl() + "/b.zip", temp.root.string()), 0);
    // Another scheme than http(s) is not fetched.
    EXPECT_EQ(
        DownloadToFolder("file://" + (temp.root / "plain").string(), (temp.root / "out").string()),
        0);
    auto names = temp.Names(temp.root);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"b.zip", "plain"}));
}

TEST(DownloadToFolder, LargeBodiesFromParallelWorkersAreWrittenWhole) {
    const std::string body = Pattern(48u << 20);
    loopback::HttplibServer http;
    http.server.Get(R"(/big\d\.bin)", [&body](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(body.size(), "application/octet-stream",
                                 [&body](size_t offset, size_t length, httplib::DataSink& sink) {
                                     return sink.write(body.data() + offset,
                                                       std::min<size_t>(length, 1u << 20));
                                 });
    });
    ASSERT_TRUE(http.Start());
    DownloadFolder temp;
    std::vector<int> results(3, -1);
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&, i] {
            results[i] = DownloadToFolder(http.BaseUrl() + "/big" + std::to_string(i) + ".bin",
                                          temp.root.string());
        });
    }
    for (auto& worker : workers) worker.join();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(results[i], 1);
        EXPECT_TRUE(ReadFile(temp.root / ("big" + std::to_string(i) + ".bin")) == body);
    }
    EXPECT_EQ(temp.Names(temp.root).size(), 3u);
}

TEST(DownloadToFolder, AddressWithBlanksIsSentEscaped) {
    loopback::RawHttpServer raw([](const std::string&) { return loopback::OkResponse("pkg"); });
    DownloadFolder temp;
    ASSERT_EQ(DownloadToFolder(raw.BaseUrl() + "/my tools/pkg a.zip", temp.root.string()), 1);
    EXPECT_EQ(ReadFile(temp.root / "pkg a.zip"), "pkg");
    ASSERT_EQ(DownloadToNewFile(raw.BaseUrl() + "/x/b c.zip", (temp.root / "new").string()), 1);
    EXPECT_EQ(ReadFile(temp.root / "new"), "pkg");
    const auto requests = raw.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].rfind("GET /my%20tools/pkg%20a.zip HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(requests[1].rfind("GET /x/b%20c.zip HTTP/1.1\r\n", 0), 0u);
}

// The staged download only ever writes the one file it creates.
TEST(DownloadToNewFile, WritesOnlyAFileItCreatesAndLeavesNothingOnFailure) {
    loopback::RawHttpServer raw([](const std::string& request) {
        if (request.find("/cut") != std::string::npos)
            return "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(300, 'z');
        return loopback::OkResponse("body");
    });
    DownloadFolder temp;
    std::ofstream(temp.root / "taken") << "keep";
    fs::create_symlink(temp.root / "taken", temp.root / "link");
    EXPECT_EQ(DownloadToNewFile(raw.BaseUrl() + "/a.zip", (temp.root / "taken").string()), 0);
    EXPECT_EQ(DownloadToNewFile(raw.BaseUrl() + "/a.zip", (temp.root / "link").string()), 0);
    EXPECT_EQ(ReadFile(temp.root / "taken"), "keep");
    EXPECT_EQ(DownloadToNewFile(raw.BaseUrl() + "/cut.zip", (temp.root / "cut").string()), 0);
    EXPECT_FALSE(fs::exists(temp.root / "cut"));
}
