#include "converter/progress.h"
#include "converter/progress_slot.h"
#include "util/textutil.h"

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string ObjectName(const std::string& digits) {
    return std::string(kProgressNamePrefix) + digits;
}

// The converter's side: the same block mapped a second time by name.
class ConverterView {
  public:
    explicit ConverterView(const std::string& digits) {
        fd_ = shm_open(ObjectName(digits).c_str(), O_RDWR, 0);
        if (fd_ < 0) return;
        void* p = mmap(nullptr, kProgressChannelSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (p != MAP_FAILED) slots_ = static_cast<ProgressSlot*>(p);
    }
    ~ConverterView() {
        if (slots_ != nullptr) munmap(slots_, kProgressChannelSize);
        if (fd_ >= 0) close(fd_);
    }
    ConverterView(const ConverterView&) = delete;
    ConverterView& operator=(const ConverterView&) = delete;

    bool ok() const { return slots_ != nullptr; }
    ProgressSlot& operator[](int i) { return slots_[i]; }

  private:
    int fd_ = -1;
    ProgressSlot* slots_ = nullptr;
};

TEST(ProgressChannelAbsent, EverythingDeclinesQuietly) {
    ASSERT_FALSE(ProgressIsOpen());
    EXPECT_STREQ(ProgressChannelName(), "");
    EXPECT_EQ(ProgressAllocSlot(), -1);
    double percent = 7.0;
    int64_t amount = 7;
    EXPECT_EQ(ProgressRead(0, &percent, &amount), 0);
    double duration = 7.0;
    EXPECT_EQ(ProgressReadDuration(0, &duration), 0);
    double average = 7.0;
    EXPECT_EQ(ProgressAverage(&average), 0);
    EXPECT_EQ(average, 0.0);
    ProgressRequestStop(0);
    ProgressReleaseSlot(0);
    ProgressResetSlots();
    ProgressClose();
}

TEST(ProgressChannelLife, NamedObjectExistsPrivatelyUntilClose) {
    ASSERT_TRUE(ProgressOpen());
    ASSERT_TRUE(ProgressIsOpen());
    const std::string digits = ProgressChannelName();
    ASSERT_EQ(digits.size(), static_cast<size_t>(kProgressNameDigits));
    for (char c : digits)
        EXPECT_TRUE(c >= '0' && c <= '9') << digits;

    const std::string file = "/dev/shm" + ObjectName(digits);
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0) << file;
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_size, static_cast<off_t>(kProgressChannelSize));
    EXPECT_TRUE(ProgressOpen()) << "a second open keeps the channel";
    EXPECT_EQ(ProgressChannelName(), digits);

    ProgressClose();
    EXPECT_FALSE(ProgressIsOpen());
    EXPECT_STREQ(ProgressChannelName(), "");
    EXPECT_NE(stat(file.c_str(), &info), 0) << "the object must be unlinked";
    EXPECT_EQ(ProgressAllocSlot(), -1);
}

TEST(ProgressChannelLife, NameTakenByAnotherChannelIsNotShared) {
    // Hold the names the clock would give now and a second later, as another
    // program started at the same moment would.
    const uint32_t now = TimeSeed();
    std::vector<std::string> held;
    std::vector<int> fds;
    for (uint32_t seed : {now, now + 1}) {
        char digits[kProgressNameDigits + 1];
        RandomText(digits, kProgressNameDigits, seed, 0);
        const int fd = shm_open(ObjectName(digits).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            ASSERT_EQ(ftruncate(fd, 16), 0);
            ASSERT_EQ(write(fd, "other", 5), 5);
            held.push_back(digits);
            fds.push_back(fd);
        }
    }
    ASSERT_FALSE(held.empty());

    ASSERT_TRUE(ProgressOpen());
    const std::string mine = ProgressChannelName();
    for (const std::string& other : held)
        EXPECT_NE(mine, other);
    ProgressClose();

    for (size_t i = 0; i < held.size(); ++i) {
        char text[6] = {};
        EXPECT_EQ(pread(fds[i], text, 5, 0), 5);
        EXPECT_STREQ(text, "other") << "the other channel must be left alone";
        struct stat info {};
        EXPECT_EQ(fstat(fds[i], &info), 0);
        EXPECT_EQ(info.st_size, 16);
        close(fds[i]);
        EXPECT_EQ(shm_unlink(ObjectName(held[i]).c_str()), 0);
    }
}

class ProgressSlots : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ProgressOpen());
        view_ = std::make_unique<ConverterView>(ProgressChannelName());
        ASSERT_TRUE(view_->ok());
    }
    void TearDown() override {
        view_.reset();
        ProgressClose();
    }
    ProgressSlot& Slot(int i) { return (*view_)[i]; }

    std::unique_ptr<ConverterView> view_;
};

TEST_F(ProgressSlots, FreshChannelIsCleared) {
    for (int i = 0; i < kProgressSlotCount; ++i) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&Slot(i));
        for (size_t b = 0; b < kProgressSlotSize; ++b)
            ASSERT_EQ(bytes[b], 0) << "slot " << i << " byte " << b;
    }
}

TEST_F(ProgressSlots, AllocationHandsOutAtMost999) {
    for (int i = 0; i < kProgressSlotCount - 1; ++i) {
        ASSERT_EQ(ProgressAllocSlot(), i);
        EXPECT_EQ(Slot(i).inUse, 1);
    }
    EXPECT_EQ(ProgressAllocSlot(), -1) << "index 999 is never handed out";
    EXPECT_EQ(Slot(kProgressSlotCount - 1).inUse, 0);
    ProgressReleaseSlot(500);
    EXPECT_EQ(ProgressAllocSlot(), 500);
    EXPECT_EQ(ProgressAllocSlot(), -1);
}

TEST_F(ProgressSlots, ReleasedSlotIsReusedBeforeNewOnes) {
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(ProgressAllocSlot(), i);
    ProgressReleaseSlot(2);
    EXPECT_EQ(ProgressAllocSlot(), 2);
    EXPECT_EQ(ProgressAllocSlot(), 5);
}

TEST_F(ProgressSlots, ResetStartsOverFromZero) {
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(ProgressAllocSlot(), i);
    for (int i = 0; i < 3; ++i)
        ProgressReleaseSlot(i);
    // Slot 3 stays in use, but after the reset it lies above H and is no
    // longer examined.
    Slot(3).percent = 50.0;
    ProgressResetSlots();
    EXPECT_EQ(ProgressAllocSlot(), 0);
    double average = -1.0;
    EXPECT_EQ(ProgressAverage(&average), 1);
    EXPECT_EQ(average, 0.0);
}

TEST_F(ProgressSlots, ReleaseClearsTheWholeSlot) {
    const int index = ProgressAllocSlot();
    ASSERT_EQ(index, 0);
    Slot(index).percent = 55.0;
    Slot(index).amount = 1e6;
    Slot(index).speed = 2.5;
    Slot(index).duration = 12.0;
    ProgressRequestStop(index);
    EXPECT_EQ(Slot(index).stop, 1);
    ProgressReleaseSlot(index);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&Slot(index));
    for (size_t b = 0; b < kProgressSlotSize; ++b)
        EXPECT_EQ(bytes[b], 0) << b;
    ProgressReleaseSlot(-1);
    ProgressReleaseSlot(kProgressSlotCount);
}

TEST_F(ProgressSlots, ReadClampsWhatTheConverterWrites) {
    const struct {
        double written;
        double shown;
    } cases[] = {
        {42.5, 42.5}, {0.0, 0.0}, {100.0, 100.0},    {150.0, 100.0},
        {-3.0, 0.0},  {NAN, 0.0}, {INFINITY, 100.0}, {-INFINITY, 0.0},
    };
    const int index = ProgressAllocSlot();
    for (const auto& c : cases) {
        Slot(index).percent = c.written;
        double percent = -1.0;
        ASSERT_EQ(ProgressRead(index, &percent, nullptr), 1);
        EXPECT_EQ(percent, c.shown) << c.written;
    }
}

TEST_F(ProgressSlots, ReadGivesAmountInKilobytes) {
    const struct {
        double bytes;
        int64_t kb;
    } cases[] = {{0.0, 0}, {1023.0, 0},  {2048.0 * 1024 + 500, 2048},
                 {NAN, 0}, {-4096.0, 0}, {1e30, 9000000000000000000}};
    const int index = ProgressAllocSlot();
    for (const auto& c : cases) {
        Slot(index).amount = c.bytes;
        double percent = 0;
        int64_t kb = -1;
        ASSERT_EQ(ProgressRead(index, &percent, &kb), 1);
        EXPECT_EQ(kb, c.kb) << c.bytes;
    }
}

TEST_F(ProgressSlots, BadIndexesReadNothing) {
    ProgressAllocSlot();
    double value = 7.0;
    for (int index : {-1, -5, kProgressSlotCount, 100000}) {
        EXPECT_EQ(ProgressRead(index, &value, nullptr), 0) << index;
        EXPECT_EQ(ProgressReadDuration(index, &value), 0) << index;
        ProgressRequestStop(index);
    }
}

TEST_F(ProgressSlots, DurationIsReadAsWritten) {
    const int index = ProgressAllocSlot();
    Slot(index).duration = 3725.75;
    double duration = 0.0;
    ASSERT_EQ(ProgressReadDuration(index, &duration), 1);
    EXPECT_EQ(duration, 3725.75);
}

TEST_F(ProgressSlots, AverageOverSlotsInUse) {
    double average = -1.0;
    EXPECT_EQ(ProgressAverage(&average), 0);
    EXPECT_EQ(average, 0.0);

    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(ProgressAllocSlot(), i);
    Slot(0).percent = 10.0;
    Slot(1).percent = 20.0;
    Slot(2).percent = 150.0; // counts as 100
    Slot(3).percent = 30.0;
    ProgressReleaseSlot(3);
    Slot(3).percent = 90.0; // a free slot is not counted
    Slot(7).percent = 90.0; // nor one above H
    EXPECT_EQ(ProgressAverage(&average), 3);
    EXPECT_DOUBLE_EQ(average, 130.0 / 3);
}

TEST_F(ProgressSlots, ConcurrentAllocationGivesDistinctSlots) {
    constexpr int kThreads = 6;
    constexpr int kEach = 100;
    std::vector<std::vector<int>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&got, t] {
            for (int i = 0; i < kEach; ++i) {
                const int index = ProgressAllocSlot();
                got[t].push_back(index);
                double average;
                ProgressAverage(&average);
                if (i % 3 == 0) {
                    ProgressReleaseSlot(index);
                    got[t].back() = -2;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::set<int> held;
    for (const auto& list : got) {
        for (int index : list) {
            if (index == -2) continue;
            ASSERT_GE(index, 0);
            EXPECT_TRUE(held.insert(index).second) << "slot " << index << " handed out twice";
        }
    }
    for (int index : held)
        EXPECT_EQ(Slot(index).inUse, 1);
}

} // namespace
