#include "converter/profiles.h"

#include <bit>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

const float kRate23976 = std::bit_cast<float>(uint32_t{0x41BFCED9});
const float kRate29976 = std::bit_cast<float>(uint32_t{0x41EFCED9});

template <typename T, typename End> int ListLength(const T* list, End isEnd) {
    int n = 0;
    while (!isEnd(list[n]))
        ++n;
    return n;
}

int FrameSizeCount(const FrameSize* list) {
    return ListLength(list, [](FrameSize s) { return s.width == 0; });
}

TEST(ProfileTable, IdsInSelectorOrderAndTerminator) {
    const int16_t ids[kProfileCount] = {500,  510,  520,  530,  540,  700,  800,  810, 900,
                                        1000, 1010, 1020, 5000, 5010, 5020, 5030, 5040};
    std::set<std::string> names;
    for (int i = 0; i < kProfileCount; ++i) {
        EXPECT_EQ(kProfiles[i].id, ids[i]) << i;
        ASSERT_NE(kProfiles[i].name, nullptr);
        EXPECT_NE(kProfiles[i].name[0], '\0');
        names.insert(kProfiles[i].name);
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kProfileCount)) << "display names must differ";
    EXPECT_EQ(kProfiles[kProfileCount].id, -1);
    EXPECT_STREQ(kProfiles[0].name, "Zune Video (*.mp4) (320x240) H.Quality");
    EXPECT_STREQ(kProfiles[1].name, "Zune Video (*.mp4) (320x180) H.Quality");
    EXPECT_STREQ(kProfiles[2].name, "Zune Video (*.mp4) (320x240)");
    EXPECT_STREQ(kProfiles[3].name, "Zune Video (*.mp4) (320x180)");
    EXPECT_STREQ(kProfiles[4].name, "Zune Video (*.mp4) (Custom)");
}

TEST(ProfileTable, FractionalRatesAreBitExact) {
    for (int i : {4, 5, 6, 7, 10, 11})
        EXPECT_EQ(std::bit_cast<uint32_t>(kProfiles[i].frameRate), 0x41EFCED9u) << i;
    EXPECT_EQ(std::bit_cast<uint32_t>(kStdFrameRates[3]), 0x41BFCED9u);
    EXPECT_EQ(std::bit_cast<uint32_t>(kStdFrameRates[5]), 0x41EFCED9u);
}

TEST(ProfileTable, EveryRowHasCompleteLists) {
    for (int i = 0; i < kProfileCount; ++i) {
        const OutputProfile& p = kProfiles[i];
        EXPECT_NE(p.frameSizes, nullptr) << i;
        EXPECT_NE(p.frameRates, nullptr) << i;
        EXPECT_NE(p.videoBitrates, nullptr) << i;
        EXPECT_NE(p.audioBitrates, nullptr) << i;
        EXPECT_NE(p.sampleRates, nullptr) << i;
        EXPECT_EQ(p.audioCodecs, nullptr) << i;
        EXPECT_EQ(p.container, nullptr) << i;
        EXPECT_EQ(p.extraOptions, nullptr) << i;
        EXPECT_EQ(p.frameSizes, i == 4 ? p.frameSizes : kStdFrameSizes) << i;
        EXPECT_EQ(p.videoCodecs != nullptr, i == 5) << i;
    }
    EXPECT_EQ(FrameSizeCount(kStdFrameSizes), 19);
    EXPECT_EQ(ListLength(kStdFrameRates, [](float r) { return r == 0.0f; }), 8);
    EXPECT_EQ(ListLength(kStdVideoBitrates, [](int16_t v) { return v == 0; }), 24);
    EXPECT_EQ(ListLength(kStdAudioBitrates, [](int16_t v) { return v == 0; }), 13);
    EXPECT_EQ(ListLength(kStdSampleRates, [](int32_t v) { return v == 0; }), 8);
    EXPECT_EQ(ListLength(kChannelCounts, [](int16_t v) { return v == 0; }), 2);

    const FrameSize* custom = kProfiles[4].frameSizes;
    ASSERT_EQ(FrameSizeCount(custom), 6);
    EXPECT_EQ(custom[3].width, 480);
    EXPECT_EQ(custom[3].height, 368);
    EXPECT_NE(custom[5].width, -1) << "the custom Zune list has no Original";

    const char* const* codecs = kProfiles[5].videoCodecs;
    EXPECT_STREQ(codecs[0], "MP4");
    EXPECT_STREQ(codecs[1], "H264");
    EXPECT_EQ(codecs[2], nullptr);
}

TEST(ProfileTable, AudioOnlyRowsAndTheirVideoCodec) {
    for (int i = 0; i < kProfileCount; ++i)
        EXPECT_EQ(kProfiles[i].audioOnly, i >= 12) << i;
    // MP3 and M4A carry an empty tag, WAV, WMA and MP2 none at all.
    EXPECT_STREQ(kProfiles[12].videoCodec, "");
    EXPECT_STREQ(kProfiles[16].videoCodec, "");
    for (int i : {13, 14, 15})
        EXPECT_EQ(kProfiles[i].videoCodec, nullptr) << i;
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(kProfiles[i].editable) << i;
    for (int i = 4; i < kProfileCount; ++i)
        EXPECT_TRUE(kProfiles[i].editable) << i;
}

TEST(ProfileLookup, IndexByIdAndClamp) {
    EXPECT_EQ(ProfileIndexById(500), 0);
    EXPECT_EQ(ProfileIndexById(1020), 11);
    EXPECT_EQ(ProfileIndexById(5040), 16);
    EXPECT_EQ(ProfileIndexById(-1), 0) << "the terminator is not a row";
    EXPECT_EQ(ProfileIndexById(4242), 0);
    EXPECT_EQ(ProfileIndexClamp(-1), 0);
    EXPECT_EQ(ProfileIndexClamp(16), 16);
    EXPECT_EQ(ProfileIndexClamp(17), 0);
}

TEST(ProfileLookup, ExtensionWithDot) {
    const struct {
        int16_t id;
        const char* ext;
    } cases[] = {{500, ".mp4"},  {800, ".mpg"},  {900, ".wmv"},  {1010, ".avi"}, {5000, ".mp3"},
                 {5010, ".wav"}, {5020, ".wma"}, {5030, ".mp2"}, {5040, ".m4a"}, {12345, ".mp4"}};
    for (const auto& c : cases)
        EXPECT_STREQ(ProfileExtension(c.id), c.ext) << c.id;
}

TEST(ProfileApply, SetsConversionFieldsOnly) {
    AppSettings s;
    s.destFolder = "/videos";
    s.maxConversions = 7;
    s.aspect = 2;
    s.volume = 300;
    s.disableAudio = 1;
    s.disableVideo = 1;
    ProfileApplyDefaults(s, 4);
    EXPECT_EQ(s.profileId, 540);
    EXPECT_EQ(s.width, 320);
    EXPECT_EQ(s.height, 240);
    EXPECT_EQ(std::bit_cast<uint32_t>(s.frameRate), 0x41EFCED9u);
    EXPECT_EQ(s.videoBitrate, 512);
    EXPECT_EQ(s.audioBitrate, 128);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.sampleRate, 44100);
    EXPECT_EQ(s.videoCodec, "MP4");
    EXPECT_EQ(s.audioCodec, "AAC");
    EXPECT_EQ(s.aspect, 0);
    EXPECT_EQ(s.volume, 100);
    EXPECT_EQ(s.disableAudio, 0);
    EXPECT_EQ(s.disableVideo, 0);
    EXPECT_EQ(s.destFolder, "/videos");
    EXPECT_EQ(s.maxConversions, 7);

    ProfileApplyDefaults(s, 13); // WAV: no video codec at all
    EXPECT_EQ(s.videoCodec, "");
    EXPECT_EQ(s.audioCodec, "pcm");
    EXPECT_EQ(s.videoBitrate, -1);

    ProfileApplyDefaults(s, -1);
    EXPECT_EQ(s.profileId, 500);
    ProfileApplyDefaults(s, 99);
    EXPECT_EQ(s.profileId, 500);
}

TEST(ProfileApply, ResetGivesDefaultsWithoutCodecs) {
    AppSettings s;
    s.destFolder = "/a";
    s.addFolder = "/b";
    s.spareFolder = "/c";
    s.profileId = 5000;
    s.maxConversions = 9;
    s.showToolbar = 0;
    s.updateCheckDay = 77;
    s.videoCodec = "H264";
    s.exitAfter = 1;
    SettingsReset(s);
    EXPECT_EQ(s.destFolder, "");
    EXPECT_EQ(s.addFolder, "");
    EXPECT_EQ(s.spareFolder, "");
    EXPECT_EQ(s.profileId, 500);
    EXPECT_EQ(s.maxConversions, 2);
    EXPECT_EQ(s.showToolbar, 1);
    EXPECT_EQ(s.updateCheckDay, 0);
    EXPECT_EQ(s.exitAfter, 0);
    EXPECT_EQ(s.width, 320);
    EXPECT_EQ(s.height, 240);
    EXPECT_EQ(s.frameRate, -1.0f);
    EXPECT_EQ(s.videoBitrate, 1500);
    EXPECT_EQ(s.sampleRate, 44100);
    EXPECT_EQ(s.videoCodec, "") << "row 0 names MP4, a reset leaves it to the converter";
    EXPECT_EQ(s.audioCodec, "");
}

TEST(ProfileApply, CopyConversionTakesFoldersAndConversionFields) {
    AppSettings live;
    SettingsReset(live);
    live.destFolder = "/out";
    live.addFolder = "/in";
    live.spareFolder = "/spare";
    ProfileApplyDefaults(live, 6);
    live.volume = 150;
    live.aspect = 1;
    live.disableAudio = 1;
    live.maxConversions = 5; // program-wide, not copied
    AppSettings snap;
    SettingsReset(snap);
    SettingsCopyConversion(snap, live);
    EXPECT_EQ(snap.destFolder, "/out");
    EXPECT_EQ(snap.addFolder, "/in");
    EXPECT_EQ(snap.spareFolder, "/spare");
    EXPECT_EQ(snap.profileId, 800);
    EXPECT_EQ(snap.videoCodec, "MPEG1");
    EXPECT_EQ(snap.audioCodec, "MP3");
    EXPECT_EQ(snap.volume, 150);
    EXPECT_EQ(snap.aspect, 1);
    EXPECT_EQ(snap.disableAudio, 1);
    EXPECT_EQ(snap.audioBitrate, 224);
    EXPECT_EQ(std::bit_cast<uint32_t>(snap.frameRate), 0x41EFCED9u);
    EXPECT_EQ(snap.maxConversions, 2);
}

TEST(ListIndexOf, FindsFirstEqualOrZero) {
    EXPECT_EQ(ListIndexOf(kStdVideoBitrates, int16_t{600}), 0) << "no nearest value";
    EXPECT_EQ(ListIndexOf(kStdVideoBitrates, int16_t{1500}), 16);
    EXPECT_EQ(ListIndexOf(kStdVideoBitrates, int16_t{-1}), 23);
    EXPECT_EQ(ListIndexOf(kStdAudioBitrates, int16_t{320}), 12);
    EXPECT_EQ(ListIndexOf(kStdSampleRates, int32_t{48000}), 7);
    EXPECT_EQ(ListIndexOf(kStdSampleRates, int32_t{44000}), 0);
    EXPECT_EQ(ListIndexOf(kStdFrameSizes, FrameSize{-1, -1}), 18);
    EXPECT_EQ(ListIndexOf(kStdFrameSizes, FrameSize{320, 240}), 8);
    EXPECT_EQ(ListIndexOf(kStdFrameSizes, FrameSize{320, 999}), 0) << "both halves must match";
    EXPECT_EQ(ListIndexOf(kStdFrameRates, kRate29976), 5);
    EXPECT_EQ(ListIndexOf(kStdFrameRates, std::bit_cast<float>(uint32_t{0x41EFCEDA})), 0)
        << "rates compare bit for bit";
    EXPECT_EQ(ListIndexOf(kStdFrameRates, kRate23976), 3);
    EXPECT_EQ(ListIndexOf(kStdFrameRates, -1.0f), 7);

    const char* const* codecs = kProfiles[5].videoCodecs;
    EXPECT_EQ(ListIndexOf(codecs, "h264"), 1);
    EXPECT_EQ(ListIndexOf(codecs, "XVID"), 0);
    EXPECT_EQ(ListIndexOf(codecs, ""), 0);
    EXPECT_EQ(ListIndexOf(codecs, static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(ListIndexOf(static_cast<const char* const*>(nullptr), "H264"), 0);
}

TEST(DisplayText, CodecLabel) {
    EXPECT_EQ(CodecLabel(""), "(Default)");
    EXPECT_EQ(CodecLabel(nullptr), "(Default)");
    EXPECT_EQ(CodecLabel("msmpeg4v2"), "MSMPEG4V2");
    EXPECT_EQ(CodecLabel(std::string(80, 'a').c_str()), std::string(kCodecTagMaxLen, 'A'));
}

TEST(DisplayText, FrameRates) {
    const struct {
        float rate;
        const char* text;
    } cases[] = {
        {12.0f, "12"},
        {20.0f, "20"},
        {kRate23976, "23.976"},
        {25.0f, "25         (PAL)"},
        {kRate29976, "29.976  (NTSC)"},
        {30.0f, "30"},
        {-1.0f, "Original"},
        {30000.0f / 1001.0f, "29.970"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FrameRateText(c.rate), c.text) << c.rate;
    std::vector<std::string> standard;
    for (int i = 0; kStdFrameRates[i] != 0.0f; ++i)
        standard.push_back(FrameRateText(kStdFrameRates[i]));
    const std::vector<std::string> expected = {
        "12", "15", "20", "23.976", "25         (PAL)", "29.976  (NTSC)", "30", "Original"};
    EXPECT_EQ(standard, expected);
}

TEST(DisplayText, SizesNumbersChannelsVolume) {
    EXPECT_EQ(FrameSizeText({320, 240}), "320 x 240");
    EXPECT_EQ(FrameSizeText({-1, -1}), "Original");
    EXPECT_EQ(NumberText(44100), "44100");
    EXPECT_EQ(NumberText(-1), "Original");
    EXPECT_EQ(ChannelText(1), "Mono (1)");
    EXPECT_EQ(ChannelText(2), "Stereo (2)");
    EXPECT_EQ(ChannelText(-1), "Original");
    EXPECT_EQ(ChannelText(6), "Original");

    std::vector<std::string> volumes;
    for (int v = 0; v <= kVolumeMax; v += kVolumeStep)
        volumes.push_back(VolumeText(v));
    ASSERT_EQ(volumes.size(), 21u);
    EXPECT_EQ(volumes.front(), "0%");
    EXPECT_EQ(volumes.back(), "500%");
    int marked = 0;
    for (const std::string& v : volumes)
        marked += v.find("(normal)") != std::string::npos;
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(VolumeText(100), "100%  (normal)");
}

} // namespace
