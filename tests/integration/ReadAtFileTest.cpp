#include "os/ReadAtFile.h"

#include <random>

#include <gtest/gtest.h>

#include "ScratchFolder.h"

// Reads hopping between places, across block edges, past the end and larger than a block all
// return exactly the file's bytes.
TEST(ReadAtFile, AnyOffsetAndLengthGivesTheFilesBytes) {
    ScratchFolder dir;
    std::mt19937 random(5);
    std::string bytes(700 * 1024 + 17, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    WriteFile(dir / "data.bin", bytes);
    os::ReadAtFile file;
    ASSERT_TRUE(file.Open(dir / "data.bin"));
    EXPECT_FALSE(file.Open(dir / "data.bin"));
    ASSERT_EQ(file.size(), bytes.size());
    std::string out;
    for (int i = 0; i < 2000; ++i) {
        const size_t offset = random() % (bytes.size() + 10);
        const size_t count = i % 10 == 0 ? random() % (400 * 1024) : random() % 300;
        out.assign(count, '\0');
        const size_t n = file.ReadAt(offset, out.data(), count);
        const size_t expected = offset >= bytes.size() ? 0 : std::min(count, bytes.size() - offset);
        ASSERT_EQ(n, expected) << offset << " " << count;
        ASSERT_EQ(out.substr(0, n), bytes.substr(std::min(offset, bytes.size()), n));
    }
    os::ReadAtFile missing, folder;
    EXPECT_FALSE(missing.Open(dir / "missing"));
    EXPECT_FALSE(folder.Open(dir.path()));
    EXPECT_EQ(missing.ReadAt(0, out.data(), 1), 0u);
}
