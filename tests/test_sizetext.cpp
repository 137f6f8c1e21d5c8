#include "converter/sizetext.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct SizeCase {
    uint64_t bytes;
    const char* text;
};

// The unit follows the number of decimal digits, the divisor powers of 1024.
constexpr SizeCase kSizeCases[] = {
    {0, "0 Bytes"},          {1, "1 Bytes"},          {1023, "1023 Bytes"},
    {1024, "1.00 KB"},       {2048, "2.00 KB"},       {999999, "976.56 KB"},
    {1000000, "0.95 MB"},    {5242880, "5.00 MB"},    {999999999, "953.67 MB"},
    {1000000000, "0.93 GB"}, {1073741824, "1.00 GB"}, {UINT64_MAX, "17179869184.00 GB"},
};

TEST(FormatSize, TextsAtTheThresholds) {
    for (const SizeCase& c : kSizeCases) {
        std::string out = "stale";
        FormatSize(out, c.bytes);
        EXPECT_EQ(out, c.text) << c.bytes;
    }
}

struct TimeLeftCase {
    uint32_t elapsedMs;
    double percent;
    const char* text;
};

constexpr TimeLeftCase kTimeLeftCases[] = {
    {10000, 50.0, " 10 sec left"},
    {60000, 10.0, " 09:00 left"},
    {30000, 0.5, " 01:39:30 left"},
    {100000, 0.01, " 99:00:00 left"},
    {100000, 42.37, " 02:16 left"},
    {1999, 50.0, " 1 sec left"}, // elapsed seconds drop the remainder
    {999, 50.0, ""},             // less than a second: nothing yet
    {10000, 0.0, ""},            // no progress: no estimate
    {10000, -5.0, ""},
    {10000, NAN, ""},
    {10000, 100.0, " 0 sec left"},
    {59000, 50.0, " 59 sec left"},
    {60000, 50.0, " 01:00 left"},
    {3600000, 50.0, " 01:00:00 left"},
    {10000, 1e-300, " 99:00:00 left"}, // absurd estimates are capped, not overflowed
};

TEST(FormatTimeLeft, TextsForElapsedTimeAndPercent) {
    for (const TimeLeftCase& c : kTimeLeftCases) {
        std::string out = "stale";
        const uint32_t start = 5000;
        FormatTimeLeftAt(out, start, c.percent, start + c.elapsedMs);
        EXPECT_EQ(out, c.text) << c.elapsedMs << " ms at " << c.percent;
    }
}

TEST(FormatTimeLeft, ElapsedTimeSurvivesTickWrap) {
    std::string out;
    const uint32_t start = 0xFFFFFFFFu - 4999; // 5 s before the wrap
    FormatTimeLeftAt(out, start, 50.0, 5000);  // 5 s after it
    EXPECT_EQ(out, " 10 sec left");
}

class FileSizeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/movenna-sizetext-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string Write(const char* name, size_t bytes) {
        const std::string path = dir_ + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        for (size_t i = 0; i < bytes; ++i)
            std::fputc('x', f);
        std::fclose(f);
        return path;
    }
    std::string dir_;
};

TEST_F(FileSizeTest, SizeOfRegularFiles) {
    EXPECT_EQ(FileSize64(Write("a.bin", 12345).c_str()), 12345u);
    EXPECT_EQ(FileSize64(Write("empty.bin", 0).c_str()), 0u);
    // A name with blanks and a leading dash is just a name here.
    EXPECT_EQ(FileSize64(Write("-odd name \".bin", 7).c_str()), 7u);
}

TEST_F(FileSizeTest, ZeroWhenNotAReadableFile) {
    EXPECT_EQ(FileSize64((dir_ + "/missing.bin").c_str()), 0u);
    EXPECT_EQ(FileSize64(dir_.c_str()), 0u);
    EXPECT_EQ(FileSize64(""), 0u);
    EXPECT_EQ(FileSize64(nullptr), 0u);
    // A FIFO without a writer must not block the caller.
    const std::string fifo = dir_ + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(FileSize64(fifo.c_str()), 0u);
    if (geteuid() != 0) {
        const std::string locked = Write("locked.bin", 10);
        ASSERT_EQ(chmod(locked.c_str(), 0), 0);
        EXPECT_EQ(FileSize64(locked.c_str()), 0u);
    }
}

} // namespace
