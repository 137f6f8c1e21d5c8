#include "jobs/job.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "converter/profiles.h"
#include "converter/progress.h"
#include "converter/progress_slot.h"
#include "settings/datafiles.h"
#include "util/ptrlist.h"
#include "util/textutil.h"

namespace {

struct StoreDeleter {
    void operator()(JobStore* store) const { JobStoreRelease(store); }
};
using StorePtr = std::unique_ptr<JobStore, StoreDeleter>;

// Filling a list of MaxJobs five slots at a time copies the slot array
// thousands of times, which is slow under the sanitizers: grow it at once.
class FastGrowth {
public:
    explicit FastGrowth(JobStore* store) : list_(store->list), step_(list_->growthStep) { list_->growthStep = MaxJobs + 8; }
    ~FastGrowth() { list_->growthStep = step_; }

private:
    PtrList* list_;
    int32_t step_;
};

StorePtr StoreWith(int count, int16_t status = Ready) {
    StorePtr store(JobStoreCreate());
    FastGrowth fast(store.get());
    for (int i = 0; i < count; ++i) {
        ConversionJob* job = JobCreate("/videos/clip" + std::to_string(i) + ".avi");
        job->status = status;
        JobStoreAppend(store.get(), job);
    }
    return store;
}

void ExpectPositionsMatchIndices(const JobStore* store) {
    for (int i = 0; i < JobCount(store); ++i) ASSERT_EQ(JobAt(store, i)->position, i);
}

// Sets Closing for one test and clears it again whatever happens.
class ClosingScope {
public:
    ClosingScope() { Closing = true; }
    ~ClosingScope() { Closing = false; }
};

std::string Cell(const ConversionJob& job, int column) {
    std::string out = "left over from another row";
    JobCellText(job, column, out);
    return out;
}

std::string Status(int16_t status, uint64_t sourceSize = 0, uint64_t outputSize = 0) {
    ConversionJob job;
    job.status = status;
    job.sourceSize = sourceSize;
    job.outputSize = outputSize;
    std::string out = "stale";
    StatusText(job, out);
    return out;
}

} // namespace

TEST(JobRecord, CreateSetsEveryFieldToItsStart) {
    ConversionJob* job = JobCreate("/videos/a b%d.avi");
    EXPECT_EQ(job->sourcePath, "/videos/a b%d.avi");
    EXPECT_EQ(job->origin, 0);
    EXPECT_EQ(job->profileId, 0);
    EXPECT_TRUE(job->displayName.empty());
    EXPECT_TRUE(job->outputPath.empty());
    EXPECT_EQ(job->status.load(), Starting);
    EXPECT_EQ(job->subStatus, 0);
    EXPECT_EQ(job->progressBytes, 0u);
    EXPECT_EQ(job->outputSize, 0u);
    EXPECT_EQ(job->duration, 0u);
    EXPECT_EQ(job->startTick, 0u);
    EXPECT_FALSE(job->stopRequested.load());
    EXPECT_EQ(job->position, 0);
    EXPECT_EQ(job->progressSlot, 0);
    EXPECT_EQ(job->sourceSize, 0u);
    JobFree(job);
    JobFree(nullptr);
}

TEST(JobStore, CreatedWithItsGrowthAndCallbacks) {
    StorePtr store(JobStoreCreate());
    ASSERT_NE(store->list, nullptr);
    EXPECT_EQ(store->list->capacity, 10);
    EXPECT_EQ(store->list->growthStep, 5);
    EXPECT_EQ(store->list->freeElement, &JobFree);
    EXPECT_EQ(store->list->writeElement, &HistoryWriteEntry);
    EXPECT_EQ(store->list->readElement, &HistoryReadEntry);
    EXPECT_EQ(store->reserved, 0u);
    EXPECT_EQ(JobCount(store.get()), 0);
    EXPECT_EQ(JobAt(store.get(), 0), nullptr);
    EXPECT_EQ(JobAt(store.get(), -1), nullptr);
    JobStoreRelease(nullptr);
}

TEST(JobStore, AppendBeyondMaxJobsDropsTheOldest) {
    StorePtr store = StoreWith(MaxJobs);
    ConversionJob* first = JobAt(store.get(), 0);
    ConversionJob* second = JobAt(store.get(), 1);
    ASSERT_EQ(first->position, 0);

    ConversionJob* extra = JobCreate("/videos/extra.avi");
    EXPECT_EQ(JobStoreAppend(store.get(), extra), MaxJobs - 1);
    EXPECT_EQ(JobCount(store.get()), MaxJobs);
    EXPECT_EQ(JobAt(store.get(), 0), second);
    EXPECT_EQ(JobAt(store.get(), MaxJobs - 1), extra);
    EXPECT_EQ(extra->position, MaxJobs - 1);
    ExpectPositionsMatchIndices(store.get());
}

TEST(JobStore, AppendRefusesNothingAndNull) {
    StorePtr store(JobStoreCreate());
    EXPECT_EQ(JobStoreAppend(store.get(), nullptr), -1);
    EXPECT_EQ(JobStoreAppend(nullptr, nullptr), -1);
    EXPECT_EQ(JobCount(store.get()), 0);
}

TEST(JobStore, RemoveRenumbersTheEntriesBehind) {
    StorePtr store = StoreWith(10);
    ConversionJob* fifth = JobAt(store.get(), 4);
    EXPECT_TRUE(JobStoreRemove(store.get(), 3));
    EXPECT_EQ(JobCount(store.get()), 9);
    EXPECT_EQ(JobAt(store.get(), 3), fifth);
    for (int i = 3; i < 9; ++i) EXPECT_EQ(JobAt(store.get(), i)->sourcePath, "/videos/clip" + std::to_string(i + 1) + ".avi");
    ExpectPositionsMatchIndices(store.get());

    EXPECT_FALSE(JobStoreRemove(store.get(), 9));
    EXPECT_FALSE(JobStoreRemove(store.get(), -1));
    EXPECT_EQ(JobCount(store.get()), 9);
}

TEST(JobStore, TrimAfterAnOverlongLoad) {
    StorePtr store = StoreWith(3);
    FastGrowth fast(store.get());
    // A list filled past the bound by hand, as a damaged file could.
    for (int i = 0; i < MaxJobs; ++i) ListAppend(store->list, JobCreate("/x"));
    EXPECT_EQ(JobStoreTrim(store.get()), 3);
    EXPECT_EQ(JobCount(store.get()), MaxJobs);
    EXPECT_EQ(JobAt(store.get(), 0)->sourcePath, "/x");
    ExpectPositionsMatchIndices(store.get());
    EXPECT_EQ(JobStoreTrim(store.get()), 0);
}

TEST(JobStore, CountReadyAndRequeueCancelled) {
    StorePtr store(JobStoreCreate());
    const int16_t statuses[] = {Ready, Cancelled, Done, Cancelled, Ready, ConvertError, Pending, CancelledNotFound};
    for (int16_t s : statuses) {
        ConversionJob* job = JobCreate("/v.avi");
        job->status = s;
        JobStoreAppend(store.get(), job);
    }
    int cancelled = -1;
    EXPECT_EQ(CountReady(store.get(), &cancelled), 2);
    EXPECT_EQ(cancelled, 2);
    EXPECT_EQ(CountReady(store.get(), nullptr), 2);

    EXPECT_EQ(RequeueCancelled(store.get()), 4);
    EXPECT_EQ(CountReady(store.get(), &cancelled), 4);
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(JobAt(store.get(), 7)->status.load(), CancelledNotFound);
}

TEST(JobStore, RemoveEntriesWithoutOutputKeepsOnlyExistingFiles) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("movenna-job-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string kept = (dir / "kept.mp4").string();
    std::ofstream(kept) << "x";

    struct Row {
        std::string output;
        bool stays;
    };
    const Row rows[] = {
        {"", false},                            // never converted
        {kept, true},
        {(dir / "gone.mp4").string(), false},
        {dir.string(), false},                  // a folder is not a converted file
        {kept, true},
    };
    StorePtr store(JobStoreCreate());
    for (const Row& row : rows) {
        ConversionJob* job = JobCreate("/v.avi");
        job->outputPath = row.output;
        job->status = Done;
        JobStoreAppend(store.get(), job);
    }
    EXPECT_EQ(RemoveEntriesWithoutOutput(store.get()), 3);
    ASSERT_EQ(JobCount(store.get()), 2);
    EXPECT_EQ(JobAt(store.get(), 0)->outputPath, kept);
    EXPECT_EQ(JobAt(store.get(), 1)->outputPath, kept);
    ExpectPositionsMatchIndices(store.get());
    std::filesystem::remove_all(dir);
}

TEST(JobTexts, ColumnCaptions) {
    EXPECT_STREQ(kJobColumnCaptions[0], "Source");
    EXPECT_STREQ(kJobColumnCaptions[1], "Duration");
    EXPECT_STREQ(kJobColumnCaptions[2], "Name");
    EXPECT_STREQ(kJobColumnCaptions[3], "Status");
}

TEST(JobTexts, DurationColumn) {
    struct Case {
        uint32_t seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, "00:00:00"},      {59, "00:00:59"},           {3725, "01:02:05"},
        {360000, "100:00:00"}, {4294967295u, "1193046:28:15"},
    };
    for (const Case& c : cases) {
        ConversionJob job;
        job.duration = c.seconds;
        EXPECT_EQ(Cell(job, 1), c.text) << c.seconds;
    }
}

TEST(JobTexts, SourceAndNameColumns) {
    ConversionJob job;
    job.sourcePath = "/videos/100% real.avi";
    job.profileId = kProfiles[3].id;
    EXPECT_EQ(Cell(job, 0), "/videos/100% real.avi");
    EXPECT_EQ(Cell(job, 2), "NoName");
    job.displayName = "holiday";
    EXPECT_EQ(Cell(job, 2), std::string("holiday (") + ProfileExtension(kProfiles[3].id) + ")");
    EXPECT_EQ(ProfileExtension(kProfiles[3].id)[0], '.');
    EXPECT_EQ(Cell(job, 4), "");
    EXPECT_EQ(Cell(job, -1), "");
}

TEST(JobTexts, StatusColumnOfEveryCode) {
    struct Case {
        int16_t status;
        uint64_t sourceSize;
        uint64_t outputSize;
        const char* text;
        int image;
    };
    const Case cases[] = {
        {Starting, 0, 0, "Starting", 1},
        {GetInfo, 0, 0, "Get Video Info  ", 1},
        {Downloading, 0, 0, "Downloading  ", 1},
        {NotFound, 0, 0, "Not found", 3},
        {Done, 0, 5242880, "OK     (5.00 MB)", 2},
        {Done, 0, 0, "OK     (0 Bytes)", 2},
        {Cancelled, 0, 0, "Cancelled", 3},
        {CancelledNotFound, 0, 0, "Cancelled (not found)", 3},
        {ConvertError, 0, 0, "Conversion Error", 3},
        {Pending, 0, 0, "Pending", 1},
        {Ready, 1023, 0, "Ready  (1023 Bytes)", 0},
        {Ready, 2048, 0, "Ready  (2.00 KB)", 0},
        {9, 0, 0, "", 1},
        {13, 0, 0, "", 1},
        {16, 0, 0, "", 1},
        {-1, 0, 0, "", 1},
        {32767, 0, 0, "", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Status(c.status, c.sourceSize, c.outputSize), c.text) << c.status;
        ConversionJob job;
        job.status = c.status;
        job.sourceSize = c.sourceSize;
        job.outputSize = c.outputSize;
        EXPECT_EQ(JobImageIndex(job), c.image) << c.status;
        EXPECT_EQ(Cell(job, 3), Status(c.status, c.sourceSize, c.outputSize)) << c.status;
    }
}

TEST(JobTexts, ReservedTransferStatusesShowTheByteCount) {
    struct Case {
        int16_t status;
        int16_t subStatus;
        uint64_t bytes;
        uint64_t total;
        const char* text;
    };
    const Case cases[] = {
        {GetInfo, 0, 5000, 10000, "Get Video Info  "},
        {GetInfo, 1, 5000, 10000, "Get Video Info  "},
        {GetInfo, 2, 512, 0, "Get Video Info  512 B"},
        {GetInfo, 2, 1023, 0, "Get Video Info  1023 B"},
        {Downloading, 2, 2048, 4096, "Downloading  2.00 KB - 50%"},
        {Downloading, 2, 999999, 0, "Downloading  976.56 KB"},
        {Downloading, 2, 1000000, 3000000, "Downloading  0.95 MB - 33%"},
        {Downloading, 2, 1000000000, 1000000000, "Downloading  0.93 GB - 100%"},
        // A damaged history entry: count far beyond the total must not wrap.
        {Downloading, 2, UINT64_MAX, 1, "Downloading  17179869184.00 GB - 18446744073709551615%"},
    };
    for (const Case& c : cases) {
        ConversionJob job;
        job.status = c.status;
        job.subStatus = c.subStatus;
        job.progressBytes = c.bytes;
        job.outputSize = c.total;
        std::string out;
        StatusText(job, out);
        EXPECT_EQ(out, c.text) << c.bytes;
    }
}

TEST(JobTexts, ConvertingWithoutProgressReadsConverting) {
    ConversionJob job;
    job.status = Converting;
    job.progressSlot = -1;
    std::string out;
    StatusText(job, out);
    EXPECT_EQ(out, "Converting");
    EXPECT_EQ(JobImageIndex(job), 1);
}

TEST(JobTexts, ConvertingShowsPercentAndTimeLeft) {
    ASSERT_TRUE(ProgressOpen());
    const int slotIndex = ProgressAllocSlot();
    ASSERT_GE(slotIndex, 0);

    // Play the converter: write the percentage into the shared slot.
    const std::string name = std::string(kProgressNamePrefix) + ProgressChannelName();
    const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    void* map = ::mmap(nullptr, kProgressChannelSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    ASSERT_NE(map, MAP_FAILED);
    auto* slots = static_cast<ProgressSlot*>(map);
    slots[slotIndex].percent = 42.37;

    ConversionJob job;
    job.status = Converting;
    job.progressSlot = slotIndex;
    job.startTick = TickCount() - 100000;
    std::string out;
    StatusText(job, out);
    EXPECT_EQ(out, "Convert 42.4%  02:16 left");

    job.startTick = TickCount(); // under a second: no estimate yet
    StatusText(job, out);
    EXPECT_EQ(out, "Convert 42.4% ");

    slots[slotIndex].percent = 250.0; // clamped by the channel
    StatusText(job, out);
    EXPECT_EQ(out, "Convert 100.0% ");

    ::munmap(map, kProgressChannelSize);
    ProgressReleaseSlot(slotIndex);
    ProgressClose();
}

TEST(JobTexts, NothingWhileClosing) {
    ConversionJob job;
    job.status = Ready;
    job.sourcePath = "/a.avi";
    job.displayName = "a";
    ClosingScope closing;
    for (int column = 0; column < kJobColumnCount; ++column) EXPECT_EQ(Cell(job, column), "") << column;
    std::string out = "x";
    StatusText(job, out);
    EXPECT_EQ(out, "");
}

TEST(JobTexts, ReusesTheCallersBuffer) {
    ConversionJob job;
    job.status = Done;
    job.outputSize = 5242880;
    std::string out;
    out.reserve(256);
    const char* data = out.data();
    for (int column = 0; column < kJobColumnCount; ++column) {
        JobCellText(job, column, out);
        EXPECT_EQ(out.data(), data) << column;
    }
}
