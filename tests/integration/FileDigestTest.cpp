#include "phone/ModuleLib.h"

#include "ScratchFolder.h"

#include <random>

#include <gtest/gtest.h>

namespace {

std::string Md5sum(const std::string& path) {
    return ShellOutput("md5sum " + ShellQuote(path) + " | cut -c1-32 | tr -d '\\n'");
}

}  // namespace

TEST(FileDigest, MatchesMd5sumOnEmptySmallAndLargeFiles) {
    ScratchFolder dir;
    std::mt19937 random(7);
    std::string large(5 * 1024 * 1024 + 123, '\0');
    for (auto& b : large) b = static_cast<char>(random());
    WriteFile(dir / "empty", "");
    WriteFile(dir / "abc", "abc");
    WriteFile(dir / "one piece", std::string(1024, 'x'));
    WriteFile(dir / "large.bin", large);
    CModuleLib lib;
    EXPECT_EQ(lib.FileDigest(dir / "empty"), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(lib.FileDigest(dir / "abc"), "900150983cd24fb0d6963f7d28e17f72");
    for (const char* name : {"empty", "abc", "one piece", "large.bin"}) {
        EXPECT_EQ(lib.FileDigest(dir / name), Md5sum(dir / name)) << name;
    }
}

TEST(FileDigest, UnreadableOrMissingFileGivesZeros) {
    ScratchFolder dir;
    CModuleLib lib;
    EXPECT_EQ(lib.FileDigest(dir / "missing"), std::string(32, '0'));
    EXPECT_EQ(lib.FileDigest(dir.path()), std::string(32, '0'));
    EXPECT_EQ(lib.FileDigest(""), std::string(32, '0'));
}
