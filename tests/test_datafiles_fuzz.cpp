// Damaged settings and history files: truncations at every offset and a few
// thousand seeded random mutations. Nothing may crash or grow without bound,
// whole files must round-trip exactly, and a history file that was not read
// whole must be kept aside.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "jobs/job.h"
#include "tests/byte_builder.h"
#include "settings/datafiles.h"
#include "util/textutil.h"

namespace fs = std::filesystem;

namespace {

// Deterministic: the same cases on every run and every machine.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }

private:
    uint64_t state_;
};

// A history file made by hand, with the offsets of every count and length
// field so that mutations can aim at them.
struct HistoryImage {
    std::string bytes;
    std::vector<size_t> lengthOffsets; // 32-bit text lengths
    size_t countOffset = 0;            // 16-bit entry count
};

HistoryImage MakeHistory(int version) {
    struct Row {
        int16_t profileId;
        const char* source;
        const char* name;
        const char* output;
        int16_t status;
        int16_t subStatus;
        uint64_t size;
        uint32_t duration;
    };
    const Row rows[] = {
        {500, "/home/ann/Videos/holiday 2007/beach.avi", "beach", "/home/ann/Converted/beach.mp4", Done, 0, 5242880, 3725},
        {503, "/media/usb/clip.mpg", "clip", "", Cancelled, 0, 0, 12},
        {501, "", "", "", GetInfo, 2, 4096, 0},
        {510, "/srv/a%b.wmv", "a%b", "/srv/out/a%b.wma", ConvertError, 0, 17, 360000},
        {500, "/x", "x", "/y", Ready, 0, 0x7FFFFFFF, 1},
        {505, "/d.avi", "d", "/o/d.mp4", CancelledNotFound, 0, 1000000, 59},
    };
    HistoryImage image;
    Bytes b;
    b.raw(version == 1 ? kHistorySignatureV1 : kHistorySignatureV2).u32(0x01020304);
    image.countOffset = b.data.size();
    b.u16(static_cast<uint16_t>(std::size(rows)));
    for (const Row& r : rows) {
        b.zeros(12).u16(1).u16(static_cast<uint16_t>(r.profileId));
        for (const char* text : {r.source, r.name, r.output}) {
            image.lengthOffsets.push_back(b.data.size());
            b.u32(static_cast<uint32_t>(std::strlen(text))).raw(text);
        }
        b.u16(static_cast<uint16_t>(r.status)).u16(static_cast<uint16_t>(r.subStatus));
        if (version == 1) b.u32(static_cast<uint32_t>(r.size));
        else b.u64(r.size);
        b.u32(r.duration);
    }
    image.bytes = std::move(b.data);
    return image;
}

AppSettings StoredSettings() {
    AppSettings s;
    s.destFolder = "/home/ann/Converted";
    s.spareFolder = "/spare";
    s.addFolder = "/home/ann/Videos";
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
    s.width = 720;
    s.height = 576;
    s.frameRate = 29.97f;
    s.videoBitrate = 2500;
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

// Each field of the record, in file order, as "same as in a" for two records.
std::vector<std::function<bool(const AppSettings&, const AppSettings&)>> SettingsFields() {
    std::vector<std::function<bool(const AppSettings&, const AppSettings&)>> f;
#define FIELD(name) f.push_back([](const AppSettings& a, const AppSettings& b) { return a.name == b.name; })
    FIELD(destFolder); FIELD(spareFolder); FIELD(addFolder); FIELD(profileId); FIELD(showToolbar);
    FIELD(spareFlag); FIELD(showSettingsPanel); FIELD(showStatusBar); FIELD(updateCheckDay);
    FIELD(showTipAtStart); FIELD(maxConversions); FIELD(saveHistory); FIELD(removeStopped);
    FIELD(disableVideo); FIELD(width); FIELD(height);
    f.push_back([](const AppSettings& a, const AppSettings& b) {
        return std::memcmp(&a.frameRate, &b.frameRate, sizeof a.frameRate) == 0;
    });
    FIELD(videoBitrate); FIELD(aspect); FIELD(disableAudio); FIELD(audioBitrate); FIELD(channels);
    FIELD(sampleRate); FIELD(volume); FIELD(videoCodec); FIELD(audioCodec); FIELD(internalPlayer);
    FIELD(shutdownAfter); FIELD(exitAfter);
#undef FIELD
    return f;
}

struct StoreDeleter {
    void operator()(JobStore* store) const { JobStoreRelease(store); }
};
using StorePtr = std::unique_ptr<JobStore, StoreDeleter>;

void ExpectSameJobs(const JobStore* a, const JobStore* b) {
    ASSERT_EQ(JobCount(a), JobCount(b));
    EXPECT_EQ(a->reserved, b->reserved);
    for (int i = 0; i < JobCount(a); ++i) {
        const ConversionJob* x = JobAt(a, i);
        const ConversionJob* y = JobAt(b, i);
        ASSERT_EQ(x->sourcePath, y->sourcePath) << i;
        ASSERT_EQ(x->displayName, y->displayName) << i;
        ASSERT_EQ(x->outputPath, y->outputPath) << i;
        ASSERT_EQ(x->origin, y->origin) << i;
        ASSERT_EQ(x->profileId, y->profileId) << i;
        ASSERT_EQ(x->status.load(), y->status.load()) << i;
        ASSERT_EQ(x->subStatus, y->subStatus) << i;
        ASSERT_EQ(x->outputSize, y->outputSize) << i;
        ASSERT_EQ(x->duration, y->duration) << i;
    }
}

class DataFilesFuzz : public ::testing::Test {
protected:
    void SetUp() override {
        // tmpfs when there is one: the saves sync every file.
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string templ = (base / "movenna-fuzz-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
        path_ = (dir_ / "data.dat").string();
        resaved_ = (dir_ / "resaved.dat").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const std::string& bytes) {
        for (const auto& e : fs::directory_iterator(dir_)) fs::remove(e.path());
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool DamagedCopyExists() const { return fs::exists(path_ + kDamagedSuffix); }

    // Loads bytes as a history file and checks what must hold for any input.
    // expectCopy: whether the file is known to be damaged (nullopt: unknown).
    void CheckHistory(const std::string& bytes, std::optional<bool> expectCopy) {
        Write(bytes);
        StorePtr store(JobStoreCreate());
        const bool read = HistoryLoad(store.get(), path_);
        ASSERT_LE(JobCount(store.get()), MaxJobs);
        for (int i = 0; i < JobCount(store.get()); ++i) {
            const ConversionJob* job = JobAt(store.get(), i);
            ASSERT_LE(job->sourcePath.size(), 2001u);
            ASSERT_LE(job->displayName.size(), 257u);
            ASSERT_LE(job->outputPath.size(), 1001u);
            ASSERT_NE(job->status.load(), Pending);
            ASSERT_EQ(job->position, i);
        }
        ASSERT_EQ(Read(path_), bytes) << "loading must not touch the file";
        const bool copied = DamagedCopyExists();
        if (copied) {
            ASSERT_EQ(Read(path_ + kDamagedSuffix), bytes);
        }
        if (expectCopy) {
            ASSERT_EQ(copied, *expectCopy);
        }
        if (!read) {
            ASSERT_EQ(JobCount(store.get()), 0);
            return;
        }
        // What was read saves and reads back the same.
        ASSERT_TRUE(HistorySave(store.get(), resaved_));
        StorePtr again(JobStoreCreate());
        ASSERT_TRUE(HistoryLoad(again.get(), resaved_));
        ExpectSameJobs(store.get(), again.get());
        ASSERT_FALSE(fs::exists(resaved_ + kDamagedSuffix));
    }

    void CheckSettings(const std::string& bytes) {
        Write(bytes);
        AppSettings s;
        SettingsLoad(s, path_);
        ASSERT_LE(s.destFolder.size(), static_cast<size_t>(kPathMaxLen));
        ASSERT_LE(s.spareFolder.size(), static_cast<size_t>(kPathMaxLen));
        ASSERT_LE(s.addFolder.size(), static_cast<size_t>(kPathMaxLen));
        ASSERT_LE(s.videoCodec.size(), 48u);
        ASSERT_LE(s.audioCodec.size(), 48u);
    }

    fs::path dir_;
    std::string path_;
    std::string resaved_;
};

std::string Mutate(Rng& rng, const std::string& base, const std::vector<size_t>& aims) {
    static constexpr uint32_t kNasty[] = {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0xFFFF,  0x8000, 0x7FFF,
                                          0x10000,     0,           1,           0xFFFE, 30001,  2002};
    std::string s = base;
    switch (rng.Below(6)) {
    case 0: { // flip a few bytes
        const size_t flips = 1 + rng.Below(4);
        for (size_t i = 0; i < flips && !s.empty(); ++i)
            s[rng.Below(s.size())] ^= static_cast<char>(1 + rng.Below(255));
        break;
    }
    case 1:   // a nasty value in a count or length field, or anywhere
    case 2: {
        size_t at = (!aims.empty() && rng.Below(4) != 0) ? aims[rng.Below(aims.size())] : rng.Below(s.size());
        const uint32_t value = rng.Below(3) == 0 ? static_cast<uint32_t>(rng.Next()) : kNasty[rng.Below(std::size(kNasty))];
        const size_t width = rng.Below(2) == 0 ? 2 : 4;
        for (size_t i = 0; i < width && at + i < s.size(); ++i) s[at + i] = static_cast<char>(value >> (8 * i));
        break;
    }
    case 3: { // insert random bytes
        std::string extra(1 + rng.Below(16), '\0');
        for (char& c : extra) c = static_cast<char>(rng.Next());
        s.insert(rng.Below(s.size() + 1), extra);
        break;
    }
    case 4: { // delete a range
        const size_t at = rng.Below(s.size());
        s.erase(at, 1 + rng.Below(24));
        break;
    }
    default: { // cut and add garbage
        s.resize(rng.Below(s.size() + 1));
        const size_t n = rng.Below(40);
        for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(rng.Next()));
        break;
    }
    }
    return s;
}

} // namespace

TEST_F(DataFilesFuzz, WholeFilesRoundTripExactly) {
    const HistoryImage v2 = MakeHistory(2);
    Write(v2.bytes);
    StorePtr store(JobStoreCreate());
    ASSERT_TRUE(HistoryLoad(store.get(), path_));
    ASSERT_EQ(JobCount(store.get()), 6);
    ASSERT_TRUE(HistorySave(store.get(), resaved_));
    EXPECT_EQ(Read(resaved_), v2.bytes);
    EXPECT_FALSE(DamagedCopyExists());

    // Version 1 comes back as the same entries in version 2.
    Write(MakeHistory(1).bytes);
    StorePtr old(JobStoreCreate());
    ASSERT_TRUE(HistoryLoad(old.get(), path_));
    ASSERT_TRUE(HistorySave(old.get(), resaved_));
    EXPECT_EQ(Read(resaved_), v2.bytes);
    EXPECT_FALSE(DamagedCopyExists());

    const AppSettings stored = StoredSettings();
    ASSERT_TRUE(SettingsSave(stored, resaved_));
    const std::string settingsBytes = Read(resaved_);
    AppSettings loaded;
    SettingsLoad(loaded, resaved_);
    ASSERT_TRUE(SettingsSave(loaded, path_));
    EXPECT_EQ(Read(path_), settingsBytes);
}

TEST_F(DataFilesFuzz, HistoryTruncatedAtEveryOffset) {
    for (int version : {1, 2}) {
        const HistoryImage image = MakeHistory(version);
        for (size_t cut = 0; cut < image.bytes.size(); ++cut) {
            SCOPED_TRACE(testing::Message() << "version " << version << " cut at " << cut);
            // An empty file is simply no history; anything else cut short is damaged.
            CheckHistory(image.bytes.substr(0, cut), cut > 0);
            if (HasFatalFailure()) return;
        }
        SCOPED_TRACE(testing::Message() << "version " << version << " with trailing bytes");
        CheckHistory(image.bytes + std::string(1, '\0'), true);
    }
}

TEST_F(DataFilesFuzz, SettingsTruncatedAtEveryOffset) {
    const AppSettings stored = StoredSettings();
    ASSERT_TRUE(SettingsSave(stored, resaved_));
    const std::string bytes = Read(resaved_);
    const auto fields = SettingsFields();
    const AppSettings defaults;
    size_t lastPrefix = 0;
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        Write(bytes.substr(0, cut));
        AppSettings s;
        SettingsLoad(s, path_);
        // The fields read whole come first; every later one keeps its default.
        size_t prefix = 0;
        while (prefix < fields.size() && fields[prefix](s, stored)) ++prefix;
        for (size_t i = prefix; i < fields.size(); ++i) ASSERT_TRUE(fields[i](s, defaults)) << "field " << i;
        ASSERT_GE(prefix, lastPrefix);
        lastPrefix = prefix;
    }
    EXPECT_EQ(lastPrefix, fields.size());
}

TEST_F(DataFilesFuzz, RandomMutations) {
    Rng rng(0x4D4F56454E4E41ull);
    const HistoryImage images[] = {MakeHistory(1), MakeHistory(2)};
    std::vector<std::vector<size_t>> aims;
    for (const HistoryImage& image : images) {
        std::vector<size_t> a = image.lengthOffsets;
        a.push_back(image.countOffset);
        aims.push_back(std::move(a));
    }
    const AppSettings stored = StoredSettings();
    ASSERT_TRUE(SettingsSave(stored, resaved_));
    const std::string settingsBytes = Read(resaved_);
    const size_t textStart = std::strlen(kSettingsSignature) + 100;
    const std::vector<size_t> settingsAims = {textStart, textStart + 2 + stored.destFolder.size()};

    for (int i = 0; i < 3000; ++i) {
        SCOPED_TRACE(i);
        const size_t which = rng.Below(3);
        if (which == 2) {
            CheckSettings(Mutate(rng, settingsBytes, settingsAims));
        } else {
            const std::string bytes = Mutate(rng, images[which].bytes, aims[which]);
            // Bytes added behind a whole file always make it damaged.
            const bool appended = rng.Below(8) == 0;
            if (appended) CheckHistory(images[which].bytes + bytes.substr(0, 1 + rng.Below(8)), true);
            else CheckHistory(bytes, std::nullopt);
        }
        if (HasFatalFailure()) return;
    }
}
