#include "settings/datafiles.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "jobs/job.h"
#include "tests/byte_builder.h"
#include "util/binfile.h"
#include "util/textutil.h"

namespace fs = std::filesystem;

namespace {

struct EntryFields {
    int16_t origin = 1;
    int16_t profileId = 500;
    std::string source = "/videos/a.avi";
    std::string name = "a";
    std::string output = "/out/a.mp4";
    int16_t status = Done;
    int16_t subStatus = 0;
    uint64_t outputSize = 123456;
    uint32_t duration = 61;
};

Bytes& Entry(Bytes& b, const EntryFields& e, int version) {
    b.zeros(12).u16(static_cast<uint16_t>(e.origin)).u16(static_cast<uint16_t>(e.profileId));
    b.str32(e.source).str32(e.name).str32(e.output);
    b.u16(static_cast<uint16_t>(e.status)).u16(static_cast<uint16_t>(e.subStatus));
    if (version == 1) b.u32(static_cast<uint32_t>(e.outputSize));
    else b.u64(e.outputSize);
    return b.u32(e.duration);
}

Bytes HistoryHeader(int version, uint32_t reserved, int16_t count) {
    Bytes b;
    b.raw(version == 1 ? kHistorySignatureV1 : kHistorySignatureV2).u32(reserved).u16(static_cast<uint16_t>(count));
    return b;
}

AppSettings DistinctSettings() {
    AppSettings s;
    s.destFolder = "/home/u/Converted";
    s.spareFolder = "/spare";
    s.addFolder = "/home/u/Videos/new stuff";
    s.profileId = 507;
    s.showToolbar = 0;
    s.spareFlag = 0;
    s.showSettingsPanel = 0;
    s.showStatusBar = 0;
    s.updateCheckDay = 733000;
    s.showTipAtStart = 0;
    s.maxConversions = 17;
    s.saveHistory = 0;
    s.removeStopped = 0;
    s.disableVideo = 1;
    s.width = -1;
    s.height = 576;
    s.frameRate = 29.97f;
    s.videoBitrate = -1;
    s.aspect = 3;
    s.disableAudio = 1;
    s.audioBitrate = 192;
    s.channels = 1;
    s.sampleRate = 48000;
    s.volume = 250;
    s.videoCodec = "mpeg4";
    s.audioCodec = "libmp3lame";
    s.internalPlayer = 0;
    s.shutdownAfter = 1;
    s.exitAfter = 1;
    return s;
}

uint32_t FloatBits(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

void ExpectSameSettings(const AppSettings& a, const AppSettings& b) {
    EXPECT_EQ(a.destFolder, b.destFolder);
    EXPECT_EQ(a.spareFolder, b.spareFolder);
    EXPECT_EQ(a.addFolder, b.addFolder);
    EXPECT_EQ(a.profileId, b.profileId);
    EXPECT_EQ(a.showToolbar, b.showToolbar);
    EXPECT_EQ(a.spareFlag, b.spareFlag);
    EXPECT_EQ(a.showSettingsPanel, b.showSettingsPanel);
    EXPECT_EQ(a.showStatusBar, b.showStatusBar);
    EXPECT_EQ(a.updateCheckDay, b.updateCheckDay);
    EXPECT_EQ(a.showTipAtStart, b.showTipAtStart);
    EXPECT_EQ(a.maxConversions, b.maxConversions);
    EXPECT_EQ(a.saveHistory, b.saveHistory);
    EXPECT_EQ(a.removeStopped, b.removeStopped);
    EXPECT_EQ(a.disableVideo, b.disableVideo);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(FloatBits(a.frameRate), FloatBits(b.frameRate));
    EXPECT_EQ(a.videoBitrate, b.videoBitrate);
    EXPECT_EQ(a.aspect, b.aspect);
    EXPECT_EQ(a.disableAudio, b.disableAudio);
    EXPECT_EQ(a.audioBitrate, b.audioBitrate);
    EXPECT_EQ(a.channels, b.channels);
    EXPECT_EQ(a.sampleRate, b.sampleRate);
    EXPECT_EQ(a.volume, b.volume);
    EXPECT_EQ(a.videoCodec, b.videoCodec);
    EXPECT_EQ(a.audioCodec, b.audioCodec);
    EXPECT_EQ(a.internalPlayer, b.internalPlayer);
    EXPECT_EQ(a.shutdownAfter, b.shutdownAfter);
    EXPECT_EQ(a.exitAfter, b.exitAfter);
}

// A settings file as SettingsSave lays it out, from its five texts and a
// record for the numbers.
Bytes SettingsBytes(const AppSettings& s) {
    Bytes b;
    b.raw(kSettingsSignature).zeros(100);
    b.str16(s.destFolder).str16(s.spareFolder).str16(s.addFolder);
    b.u16(static_cast<uint16_t>(s.profileId)).u8(s.showToolbar).u8(s.spareFlag).u8(s.showSettingsPanel).u8(s.showStatusBar);
    b.u32(static_cast<uint32_t>(s.updateCheckDay)).u8(s.showTipAtStart).u16(static_cast<uint16_t>(s.maxConversions));
    b.u8(s.saveHistory).u8(s.removeStopped).u8(s.disableVideo);
    b.u16(static_cast<uint16_t>(s.width)).u16(static_cast<uint16_t>(s.height)).u32(FloatBits(s.frameRate));
    b.u16(static_cast<uint16_t>(s.videoBitrate)).u16(static_cast<uint16_t>(s.aspect)).u8(s.disableAudio);
    b.u16(static_cast<uint16_t>(s.audioBitrate)).u16(static_cast<uint16_t>(s.channels));
    b.u32(static_cast<uint32_t>(s.sampleRate)).u16(static_cast<uint16_t>(s.volume));
    b.str16(s.videoCodec).str16(s.audioCodec).u8(s.internalPlayer).u8(s.shutdownAfter).u8(s.exitAfter);
    return b;
}

struct StoreDeleter {
    void operator()(JobStore* store) const { JobStoreRelease(store); }
};
using StorePtr = std::unique_ptr<JobStore, StoreDeleter>;

ConversionJob* AddJob(JobStore* store, const EntryFields& e) {
    ConversionJob* job = JobCreate(e.source);
    job->origin = e.origin;
    job->profileId = e.profileId;
    job->displayName = e.name;
    job->outputPath = e.output;
    job->status = e.status;
    job->subStatus = e.subStatus;
    job->outputSize = e.outputSize;
    job->duration = e.duration;
    JobStoreAppend(store, job);
    return job;
}

void ExpectJob(const ConversionJob* job, const EntryFields& e) {
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->origin, e.origin);
    EXPECT_EQ(job->profileId, e.profileId);
    EXPECT_EQ(job->sourcePath, e.source);
    EXPECT_EQ(job->displayName, e.name);
    EXPECT_EQ(job->outputPath, e.output);
    EXPECT_EQ(job->status.load(), e.status);
    EXPECT_EQ(job->subStatus, e.subStatus);
    EXPECT_EQ(job->outputSize, e.outputSize);
    EXPECT_EQ(job->duration, e.duration);
}

class DataFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "movenna-data-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
        settingsPath_ = (dir_ / kSettingsFileName).string();
        historyPath_ = (dir_ / kHistoryFileName).string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Names in the folder other than the two data files.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            const std::string name = e.path().filename().string();
            if (name != kSettingsFileName && name != kHistoryFileName) names.push_back(name);
        }
        return names;
    }

    fs::path dir_;
    std::string settingsPath_;
    std::string historyPath_;
};

// Runs body in a child whose files may not grow beyond limit bytes, as on a
// full disk. Returns the child's exit status.
template <typename Body>
int RunWithFileSizeLimit(rlim_t limit, Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{};
        ::getrlimit(RLIMIT_FSIZE, &rl);
        rl.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::_exit(body() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

// ---- settings file ----

TEST_F(DataFiles, SettingsRoundTripEveryField) {
    const AppSettings saved = DistinctSettings();
    ASSERT_TRUE(SettingsSave(saved, settingsPath_));
    AppSettings loaded;
    SettingsLoad(loaded, settingsPath_);
    ExpectSameSettings(loaded, saved);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DataFiles, SettingsFrameRateKeptBitForBit) {
    const float rates[] = {-1.0f, 23.976f, 0.0f, -0.0f, std::numeric_limits<float>::denorm_min(),
                           std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()};
    for (float rate : rates) {
        AppSettings saved = DistinctSettings();
        saved.frameRate = rate;
        ASSERT_TRUE(SettingsSave(saved, settingsPath_));
        AppSettings loaded;
        SettingsLoad(loaded, settingsPath_);
        EXPECT_EQ(FloatBits(loaded.frameRate), FloatBits(rate));
    }
}

TEST_F(DataFiles, SettingsByteLayout) {
    AppSettings s = DistinctSettings();
    s.spareFolder.clear();
    ASSERT_TRUE(SettingsSave(s, settingsPath_));
    const std::string bytes = Read(settingsPath_);
    EXPECT_EQ(bytes, SettingsBytes(s).data);
    const size_t texts = s.destFolder.size() + s.addFolder.size() + s.videoCodec.size() + s.audioCodec.size();
    EXPECT_EQ(bytes.size(), std::strlen(kSettingsSignature) + 152 + texts);
    // The empty text is a bare zero length.
    const size_t spare = std::strlen(kSettingsSignature) + 100 + 2 + s.destFolder.size();
    EXPECT_EQ(bytes.substr(spare, 2), std::string(2, '\0'));
}

TEST_F(DataFiles, SettingsMissingOrForeignFileChangesNothing) {
    const AppSettings before = DistinctSettings();
    AppSettings s = before;
    SettingsLoad(s, settingsPath_);
    ExpectSameSettings(s, before);

    std::string foreign = SettingsBytes(AppSettings{}).data;
    foreign[0] ^= 0x20;
    Write(settingsPath_, foreign);
    SettingsLoad(s, settingsPath_);
    ExpectSameSettings(s, before);

    Write(settingsPath_, "");
    SettingsLoad(s, settingsPath_);
    ExpectSameSettings(s, before);
}

TEST_F(DataFiles, SettingsFileEndingEarlyKeepsTheRest) {
    const AppSettings stored = DistinctSettings();
    const std::string full = SettingsBytes(stored).data;
    // Cut right after profileId, then inside the width field.
    const size_t afterProfile = std::strlen(kSettingsSignature) + 100 + 6 + stored.destFolder.size() +
                                stored.spareFolder.size() + stored.addFolder.size() + 2;
    Write(settingsPath_, full.substr(0, afterProfile));
    AppSettings s;
    SettingsLoad(s, settingsPath_);
    EXPECT_EQ(s.destFolder, stored.destFolder);
    EXPECT_EQ(s.addFolder, stored.addFolder);
    EXPECT_EQ(s.profileId, stored.profileId);
    AppSettings defaults;
    EXPECT_EQ(s.showToolbar, defaults.showToolbar);
    EXPECT_EQ(s.maxConversions, defaults.maxConversions);
    EXPECT_EQ(s.videoCodec, defaults.videoCodec);

    // A text cut short by the end of the file is not taken half.
    const size_t insideDest = std::strlen(kSettingsSignature) + 100 + 2 + 4;
    Write(settingsPath_, full.substr(0, insideDest));
    AppSettings t = DistinctSettings();
    t.destFolder = "/kept";
    SettingsLoad(t, settingsPath_);
    EXPECT_EQ(t.destFolder, "/kept");
}

TEST_F(DataFiles, SettingsTextTooLongForItsFieldIsRefusedAndSkipped) {
    struct Case {
        const char* what;
        size_t destLen;
        size_t codecLen;
        bool destKept;
        bool codecKept;
    };
    const Case cases[] = {
        {"longest path", static_cast<size_t>(kPathMaxLen), 48, true, true},
        {"path one too long", static_cast<size_t>(kPathMaxLen) + 1, 48, false, true},
        {"short path of the old limit", 261, 5, true, true},
        {"codec one too long", 10, 49, true, false},
        {"both too long", 30000, 300, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AppSettings stored = DistinctSettings();
        stored.destFolder.assign(c.destLen, 'd');
        stored.destFolder[0] = '/';
        stored.videoCodec = std::string(c.codecLen, 'v');
        Write(settingsPath_, SettingsBytes(stored).data);
        AppSettings s;
        SettingsLoad(s, settingsPath_);
        EXPECT_EQ(s.destFolder, c.destKept ? stored.destFolder : "");
        EXPECT_EQ(s.videoCodec, c.codecKept ? stored.videoCodec : "");
        // Everything after the refused text is still read in step.
        EXPECT_EQ(s.spareFolder, stored.spareFolder);
        EXPECT_EQ(s.profileId, stored.profileId);
        EXPECT_EQ(s.audioCodec, stored.audioCodec);
        EXPECT_EQ(s.exitAfter, stored.exitAfter);
    }
}

TEST_F(DataFiles, SettingsSaveStoresTextsALoadWouldRefuseAsEmpty) {
    AppSettings stored = DistinctSettings();
    stored.addFolder = std::string(40000, 'a'); // beyond even a 16-bit length
    stored.audioCodec = std::string(60, 'c');
    ASSERT_TRUE(SettingsSave(stored, settingsPath_));
    AppSettings s;
    SettingsLoad(s, settingsPath_);
    EXPECT_EQ(s.addFolder, "");
    EXPECT_EQ(s.audioCodec, "");
    EXPECT_EQ(s.videoCodec, stored.videoCodec);
    EXPECT_EQ(s.exitAfter, stored.exitAfter);
}

TEST_F(DataFiles, SettingsSaveIntoMissingFolderFails) {
    EXPECT_FALSE(SettingsSave(DistinctSettings(), (dir_ / "no" / "such" / kSettingsFileName).string()));
}

TEST_F(DataFiles, SettingsSaveKeepsPermissionsAndLeavesNoTemporary) {
    ASSERT_TRUE(SettingsSave(DistinctSettings(), settingsPath_));
    ASSERT_EQ(::chmod(settingsPath_.c_str(), 0640), 0);
    ASSERT_TRUE(SettingsSave(AppSettings{}, settingsPath_));
    struct stat st {};
    ASSERT_EQ(::stat(settingsPath_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DataFiles, SettingsSaveThroughALinkReplacesItsTarget) {
    const std::string target = (dir_ / "real-settings.dat").string();
    ASSERT_TRUE(SettingsSave(AppSettings{}, target));
    fs::create_symlink(target, settingsPath_);
    ASSERT_TRUE(SettingsSave(DistinctSettings(), settingsPath_));
    EXPECT_TRUE(fs::is_symlink(settingsPath_));
    AppSettings s;
    SettingsLoad(s, target);
    ExpectSameSettings(s, DistinctSettings());
}

TEST_F(DataFiles, SettingsSaveOnAFullDiskKeepsTheOldFile) {
    const AppSettings old = DistinctSettings();
    ASSERT_TRUE(SettingsSave(old, settingsPath_));
    const std::string before = Read(settingsPath_);
    AppSettings big = old;
    big.destFolder.assign(3001, 'x');
    big.destFolder[0] = '/';
    const int result = RunWithFileSizeLimit(1000, [&] { return SettingsSave(big, settingsPath_); });
    EXPECT_EQ(result, 0) << "the save must report the failure";
    EXPECT_EQ(Read(settingsPath_), before);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DataFiles, SettingsSaveCannotReplaceAFolder) {
    fs::create_directory(settingsPath_);
    EXPECT_FALSE(SettingsSave(DistinctSettings(), settingsPath_));
    EXPECT_TRUE(fs::is_directory(settingsPath_));
    EXPECT_TRUE(Leftovers().empty());
}

// ---- history file ----

TEST_F(DataFiles, HistoryRoundTrip) {
    std::vector<EntryFields> entries(5);
    entries[0] = {};
    entries[1] = {.origin = 0, .profileId = -3, .source = "", .name = "", .output = "", .status = Cancelled,
                  .subStatus = -2, .outputSize = UINT64_MAX, .duration = UINT32_MAX};
    entries[2] = {.source = "/v/ünï cödé %s.mkv", .status = GetInfo, .subStatus = 2, .outputSize = 1ull << 40};
    entries[3] = {.status = CancelledNotFound};
    entries[4] = {.source = "/v/e.avi", .status = ConvertError, .duration = 0};

    StorePtr store(JobStoreCreate());
    store->reserved = 0xDEADBEEF;
    for (const EntryFields& e : entries) AddJob(store.get(), e);
    ASSERT_TRUE(HistorySave(store.get(), historyPath_));

    StorePtr loaded(JobStoreCreate());
    ASSERT_TRUE(HistoryLoad(loaded.get(), historyPath_));
    EXPECT_EQ(loaded->reserved, 0xDEADBEEFu);
    ASSERT_EQ(JobCount(loaded.get()), 5);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        ExpectJob(JobAt(loaded.get(), i), entries[i]);
        EXPECT_EQ(JobAt(loaded.get(), i)->position, i);
    }
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DataFiles, HistoryByteLayout) {
    StorePtr store(JobStoreCreate());
    store->reserved = 7;
    const EntryFields e{.origin = 1, .profileId = 502, .source = "/s.avi", .name = "s", .output = "/o/s.mp4",
                        .status = Done, .subStatus = 0, .outputSize = 0x0102030405060708ull, .duration = 3725};
    AddJob(store.get(), e);
    ASSERT_TRUE(HistorySave(store.get(), historyPath_));
    Bytes expected = HistoryHeader(2, 7, 1);
    Entry(expected, e, 2);
    EXPECT_EQ(Read(historyPath_), expected.data);
}

TEST_F(DataFiles, HistoryOfAnEmptyStore) {
    StorePtr store(JobStoreCreate());
    ASSERT_TRUE(HistorySave(store.get(), historyPath_));
    EXPECT_EQ(Read(historyPath_), HistoryHeader(2, 0, 0).data);
    StorePtr loaded(JobStoreCreate());
    EXPECT_TRUE(HistoryLoad(loaded.get(), historyPath_));
    EXPECT_EQ(JobCount(loaded.get()), 0);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DataFiles, HistoryPendingBecomesCancelledWhenWrittenAndRead) {
    StorePtr store(JobStoreCreate());
    ConversionJob* job = AddJob(store.get(), {.status = Pending});
    ASSERT_TRUE(HistorySave(store.get(), historyPath_));
    EXPECT_EQ(job->status.load(), Cancelled);

    Bytes file = HistoryHeader(2, 0, 1);
    Entry(file, {.status = Pending}, 2);
    Write(historyPath_, file.data);
    StorePtr loaded(JobStoreCreate());
    ASSERT_TRUE(HistoryLoad(loaded.get(), historyPath_));
    EXPECT_EQ(JobAt(loaded.get(), 0)->status.load(), Cancelled);
}

TEST_F(DataFiles, HistoryVersion1IsReadAndWrittenBackAsVersion2) {
    const EntryFields first{.source = "/a.avi", .outputSize = 0xFFFFFFFFu /* -1 */, .duration = 10};
    const EntryFields second{.source = "/b.avi", .status = Pending, .outputSize = 2000000000, .duration = 20};
    Bytes v1 = HistoryHeader(1, 99, 2);
    Entry(v1, first, 1);
    Entry(v1, second, 1);
    Write(historyPath_, v1.data);

    StorePtr store(JobStoreCreate());
    ASSERT_TRUE(HistoryLoad(store.get(), historyPath_));
    ASSERT_EQ(JobCount(store.get()), 2);
    EXPECT_EQ(store->reserved, 99u);
    EXPECT_EQ(JobAt(store.get(), 0)->outputSize, UINT64_MAX); // widened with its sign
    EXPECT_EQ(JobAt(store.get(), 1)->outputSize, 2000000000u);
    EXPECT_EQ(JobAt(store.get(), 1)->status.load(), Cancelled);
    EXPECT_EQ(JobAt(store.get(), 1)->duration, 20u);
    EXPECT_TRUE(Leftovers().empty());

    ASSERT_TRUE(HistorySave(store.get(), historyPath_));
    Bytes v2 = HistoryHeader(2, 99, 2);
    Entry(v2, {.source = "/a.avi", .outputSize = UINT64_MAX, .duration = 10}, 2);
    Entry(v2, {.source = "/b.avi", .status = Cancelled, .outputSize = 2000000000, .duration = 20}, 2);
    EXPECT_EQ(Read(historyPath_), v2.data);
}

TEST_F(DataFiles, HistoryReservedBytesOfAnEntryAreIgnored) {
    Bytes file = HistoryHeader(2, 0, 1);
    Entry(file, {}, 2);
    const size_t entryStart = HistoryHeader(2, 0, 1).data.size();
    for (size_t i = 0; i < 12; ++i) file.data[entryStart + i] = static_cast<char>(0xA5);
    Write(historyPath_, file.data);
    StorePtr store(JobStoreCreate());
    ASSERT_TRUE(HistoryLoad(store.get(), historyPath_));
    ExpectJob(JobAt(store.get(), 0), {});
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DataFiles, HistoryLongNamesAreCutLongPathsReadWholeAndTheRestStaysInStep) {
    // Paths up to the platform's limit come back whole (a cut path would be
    // played or deleted in place of the real one); only the name is cut.
    const EntryFields stored{.source = std::string(kPathMaxLen, 's'), .name = std::string(300, 'n'),
                             .output = std::string(3000, 'o'), .duration = 77};
    Bytes file = HistoryHeader(2, 0, 2);
    Entry(file, stored, 2);
    Entry(file, {}, 2);
    Write(historyPath_, file.data);
    StorePtr store(JobStoreCreate());
    ASSERT_TRUE(HistoryLoad(store.get(), historyPath_));
    ASSERT_EQ(JobCount(store.get()), 2);
    const ConversionJob* job = JobAt(store.get(), 0);
    EXPECT_EQ(job->sourcePath, stored.source);
    EXPECT_EQ(job->displayName, std::string(257, 'n'));
    EXPECT_EQ(job->outputPath, stored.output);
    EXPECT_EQ(job->duration, 77u);
    ExpectJob(JobAt(store.get(), 1), {});
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DataFiles, HistoryEntryWithAPathTooLongToUseIsLeftOutAndTheFileKeptAside) {
    for (const bool inSource : {true, false}) {
        SCOPED_TRACE(inSource ? "source" : "output");
        EntryFields tooLong{.duration = 5};
        (inSource ? tooLong.source : tooLong.output) = std::string(kPathMaxLen + 1, 'x');
        Bytes file = HistoryHeader(2, 0, 3);
        Entry(file, {.source = "/first.avi"}, 2);
        Entry(file, tooLong, 2);
        Entry(file, {.source = "/third.avi"}, 2);
        Write(historyPath_, file.data);
        fs::remove(historyPath_ + kDamagedSuffix);
        StorePtr store(JobStoreCreate());
        ASSERT_TRUE(HistoryLoad(store.get(), historyPath_));
        ASSERT_EQ(JobCount(store.get()), 2);
        EXPECT_EQ(JobAt(store.get(), 0)->sourcePath, "/first.avi");
        EXPECT_EQ(JobAt(store.get(), 1)->sourcePath, "/third.avi");
        EXPECT_EQ(Read(historyPath_ + kDamagedSuffix), file.data);
    }
}

TEST_F(DataFiles, HistoryMissingOrEmptyFile) {
    StorePtr store(JobStoreCreate());
    EXPECT_FALSE(HistoryLoad(store.get(), historyPath_));
    Write(historyPath_, "");
    EXPECT_FALSE(HistoryLoad(store.get(), historyPath_));
    EXPECT_EQ(JobCount(store.get()), 0);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DataFiles, HistoryForeignFileIsKeptAside) {
    const std::string foreign = "not a history file at all";
    Write(historyPath_, foreign);
    StorePtr store(JobStoreCreate());
    EXPECT_FALSE(HistoryLoad(store.get(), historyPath_));
    EXPECT_EQ(JobCount(store.get()), 0);
    EXPECT_EQ(Read(historyPath_ + kDamagedSuffix), foreign);
    EXPECT_EQ(Read(historyPath_), foreign);
}

TEST_F(DataFiles, HistoryDamagedFilesKeepWhatWasWholeAndACopy) {
    const EntryFields a{.source = "/a.avi"};
    const EntryFields b{.source = "/b.avi"};
    Bytes whole = HistoryHeader(2, 5, 2);
    Entry(whole, a, 2);
    Entry(whole, b, 2);
    const size_t secondEntryEnd = whole.data.size();

    struct Case {
        const char* what;
        std::string bytes;
        int kept;
    };
    Bytes overCount = HistoryHeader(2, 5, 3);
    Entry(overCount, a, 2);
    Entry(overCount, b, 2);
    Bytes negativeLength = HistoryHeader(2, 5, 2);
    Entry(negativeLength, a, 2);
    negativeLength.zeros(12).u16(1).u16(500).u32(0xFFFFFFF0u).raw("/c.avi");
    Bytes negativeCount = HistoryHeader(2, 5, -1);
    Entry(negativeCount, a, 2);
    const Case cases[] = {
        {"cut inside the second entry", whole.data.substr(0, secondEntryEnd - 3), 1},
        {"cut inside the count", whole.data.substr(0, std::strlen(kHistorySignatureV2) + 5), 0},
        {"cut inside the reserved value", whole.data.substr(0, std::strlen(kHistorySignatureV2) + 2), 0},
        {"count beyond the entries", overCount.data, 2},
        {"trailing bytes", whole.data + "garbage", 2},
        {"negative text length", negativeLength.data, 1},
        {"negative count", negativeCount.data, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(historyPath_ + kDamagedSuffix);
        Write(historyPath_, c.bytes);
        // Read only: the same entries, no copy made.
        StorePtr peek(JobStoreCreate());
        EXPECT_EQ(HistoryRead(peek.get(), historyPath_), HistoryReadResult::Damaged);
        EXPECT_EQ(JobCount(peek.get()), c.kept);
        EXPECT_FALSE(fs::exists(historyPath_ + kDamagedSuffix));
        StorePtr store(JobStoreCreate());
        EXPECT_TRUE(HistoryLoad(store.get(), historyPath_));
        ASSERT_EQ(JobCount(store.get()), c.kept);
        if (c.kept > 0) ExpectJob(JobAt(store.get(), 0), a);
        if (c.kept > 1) ExpectJob(JobAt(store.get(), 1), b);
        EXPECT_EQ(Read(historyPath_ + kDamagedSuffix), c.bytes);
        EXPECT_EQ(Read(historyPath_), c.bytes);
    }
}

TEST_F(DataFiles, HistoryReadTellsWhatItFoundAndWritesNothing) {
    Bytes whole = HistoryHeader(2, 0, 1);
    Entry(whole, {.source = "/a.avi"}, 2);
    enum class Make { Nothing, File, Folder };
    struct Case {
        const char* what;
        Make make;
        std::string bytes;
        HistoryReadResult result;
        int kept;
    };
    const Case cases[] = {
        {"no file", Make::Nothing, "", HistoryReadResult::Missing, 0},
        {"whole", Make::File, whole.data, HistoryReadResult::Whole, 1},
        {"empty", Make::File, "", HistoryReadResult::Foreign, 0},
        {"foreign", Make::File, "not a history file at all", HistoryReadResult::Foreign, 0},
        {"a folder", Make::Folder, "", HistoryReadResult::Foreign, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(historyPath_);
        if (c.make == Make::File) Write(historyPath_, c.bytes);
        if (c.make == Make::Folder) fs::create_directory(historyPath_);
        StorePtr store(JobStoreCreate());
        EXPECT_EQ(HistoryRead(store.get(), historyPath_), c.result);
        EXPECT_EQ(JobCount(store.get()), c.kept);
        EXPECT_TRUE(Leftovers().empty());
    }
}

TEST_F(DataFiles, HistoryDamagedCopyNeverOverwritesAnEarlierOne) {
    Bytes whole = HistoryHeader(2, 0, 1);
    Entry(whole, {}, 2);
    const std::string first = whole.data.substr(0, whole.data.size() - 1);
    const std::string second = whole.data.substr(0, whole.data.size() - 2);
    const std::string damaged = historyPath_ + kDamagedSuffix;

    Write(historyPath_, first);
    StorePtr store(JobStoreCreate());
    HistoryLoad(store.get(), historyPath_);
    // The same damaged file read again adds no copy.
    StorePtr again(JobStoreCreate());
    HistoryLoad(again.get(), historyPath_);
    EXPECT_FALSE(fs::exists(damaged + ".1"));

    Write(historyPath_, second);
    StorePtr third(JobStoreCreate());
    HistoryLoad(third.get(), historyPath_);
    EXPECT_EQ(Read(damaged), first);
    EXPECT_EQ(Read(damaged + ".1"), second);
}

TEST_F(DataFiles, HistoryWithMoreThanMaxJobsKeepsTheNewest) {
    constexpr int stored = MaxJobs + 5;
    Bytes file = HistoryHeader(2, 0, stored);
    for (int i = 0; i < stored; ++i) Entry(file, {.source = std::to_string(i)}, 2);
    Write(historyPath_, file.data);
    StorePtr store(JobStoreCreate());
    ASSERT_TRUE(HistoryLoad(store.get(), historyPath_));
    ASSERT_EQ(JobCount(store.get()), MaxJobs);
    EXPECT_EQ(JobAt(store.get(), 0)->sourcePath, "5");
    EXPECT_EQ(JobAt(store.get(), MaxJobs - 1)->sourcePath, std::to_string(stored - 1));
    EXPECT_EQ(JobAt(store.get(), MaxJobs - 1)->position, MaxJobs - 1);
}

TEST_F(DataFiles, HistorySaveFailuresKeepTheOldFile) {
    StorePtr store(JobStoreCreate());
    AddJob(store.get(), {});
    ASSERT_TRUE(HistorySave(store.get(), historyPath_));
    const std::string before = Read(historyPath_);

    EXPECT_FALSE(HistorySave(store.get(), (dir_ / "missing" / kHistoryFileName).string()));
    EXPECT_FALSE(HistorySave(nullptr, historyPath_));

    StorePtr bigger(JobStoreCreate());
    for (int i = 0; i < 200; ++i) AddJob(bigger.get(), {.source = std::string(100, 'x')});
    const int result = RunWithFileSizeLimit(4096, [&] { return HistorySave(bigger.get(), historyPath_); });
    EXPECT_EQ(result, 0) << "the save must report the failure";
    EXPECT_EQ(Read(historyPath_), before);
    EXPECT_TRUE(Leftovers().empty());
}
