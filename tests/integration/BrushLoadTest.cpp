// Twenty package requests for five packages at once, against a real loopback server, the real
// downloader, extractor and launcher on the shared worker pool: every request ends in the right
// sequence, each package is downloaded once, and the cache holds whole programs only.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackHttp.h"
#include "TempDir.h"
#include "package/BrushWorkflow.h"
#include "package/PackageServices.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(BrushLoad, TwentyRequestsForFivePackagesAtOnce) {
    testsupport::TempDir scratch;
    const fs::path root = scratch.path();
    const fs::path serverDir = root / "server";
    const fs::path cache = root / "cache";
    fs::create_directories(serverDir);
    fs::create_directories(cache);

    // Five packages, each a script that notes its run beside the cache, padded so the
    // transfers overlap.
    const int kPackages = 5;
    const int kRequestsEach = 4;
    std::map<std::string, std::string> programs;
    for (int i = 0; i < kPackages; ++i) {
        const std::string name = "tool" + std::to_string(i);
        const fs::path stage = root / "stage" / name;
        fs::create_directories(stage);
        std::string script = "#!/bin/sh\necho " + name + " >> \"" + (cache / "ran.log").string() +
                             "\"\n# " + std::string(200000 + i * 1000, 'x') + "\n";
        std::ofstream(stage / (name + ".sh")) << script;
        fs::permissions(stage / (name + ".sh"),
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        programs[name] = script;
        const std::string zip = "cd '" + stage.string() + "' && zip -q -X '" +
                                (serverDir / (name + ".zip")).string() + "' " + name + ".sh";
        ASSERT_EQ(std::system(zip.c_str()), 0);
    }

    loopback::HttplibServer http;
    std::mutex countMutex;
    std::map<std::string, int> served;
    http.server.Get(R"(/pkg/(\w+\.zip))", [&](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> guard(countMutex);
            ++served[req.matches[1]];
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        res.set_content(ReadAll(serverDir / req.matches[1].str()), "application/zip");
    });
    ASSERT_TRUE(http.Start());

    std::mutex notesMutex;
    std::map<std::string, std::vector<std::string>> states;  // base name -> states in order
    std::atomic<int> hides{0};
    BrushServices services = RealPackageServices();
    services.notifyPage = [&](const std::string& event, const std::vector<std::string>& args) {
        ASSERT_EQ(event, "runbrush");
        ASSERT_EQ(args.size(), 2u);
        std::lock_guard<std::mutex> guard(notesMutex);
        states[args[0]].push_back(args[1]);
    };
    services.hideMainPanel = [&] { ++hides; };
    auto flow = std::make_shared<CBrushWorkflow>(services);

    for (int round = 0; round < kRequestsEach; ++round)
        for (int i = 0; i < kPackages; ++i) {
            const std::string name = "tool" + std::to_string(i);
            flow->StartBrushTask(cache.string(), name + ".sh",
                                 http.BaseUrl() + "/pkg/" + name + ".zip");
        }

    auto finished = [&] {
        std::lock_guard<std::mutex> guard(notesMutex);
        int ended = 0;
        for (const auto& [base, list] : states)
            for (const auto& s : list)
                if (s == "run" || s == "run.error" || s == "download.error") ++ended;
        return ended == kPackages * kRequestsEach;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!finished() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(finished());

    std::lock_guard<std::mutex> guard(notesMutex);
    for (const auto& [name, script] : programs) {
        const std::vector<std::string> expected{"download", "unzip", "run", "run", "run", "run"};
        EXPECT_EQ(states[name], expected) << name;
        EXPECT_EQ(served[name + ".zip"], 1) << name << " downloaded more than once";
        EXPECT_EQ(ReadAll(cache / name / (name + ".sh")), script) << name << " is not whole";
    }
    EXPECT_EQ(hides.load(), kPackages * kRequestsEach);
    // Nothing but the extraction folders (and the programs' own log) is left in the cache.
    for (const auto& entry : fs::directory_iterator(cache))
        EXPECT_TRUE(entry.is_directory() || entry.path().filename() == "ran.log") << entry.path();

    // Each started program really ran.
    int lines = 0;
    for (int wait = 0; wait < 100 && lines < kPackages * kRequestsEach; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::istringstream log(ReadAll(cache / "ran.log"));
        std::string line;
        lines = 0;
        while (std::getline(log, line)) ++lines;
    }
    EXPECT_EQ(lines, kPackages * kRequestsEach);
}

}  // namespace
