#include "converter/profiles.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <strings.h>

namespace {

// The two fractional rates must match stored settings bit for bit, so they
// are written as their bit patterns rather than as decimal literals.
constexpr float kRate23976 = std::bit_cast<float>(uint32_t{0x41BFCED9});
constexpr float kRate29976 = std::bit_cast<float>(uint32_t{0x41EFCED9});

constexpr int16_t kOrig = -1;
constexpr float kOrigRate = -1.0f;

} // namespace

constexpr FrameSize kStdFrameSizes[] = {
    {80, 60},   {128, 96},  {160, 120}, {176, 96},   {176, 144}, {208, 160}, {240, 160},
    {320, 180}, {320, 240}, {368, 192}, {368, 208},  {480, 320}, {640, 360}, {640, 480},
    {720, 480}, {720, 576}, {800, 600}, {1024, 768}, {-1, -1},   {0, 0},
};

constexpr float kStdFrameRates[] = {12.0f,      15.0f, 20.0f,     kRate23976, 25.0f,
                                    kRate29976, 30.0f, kOrigRate, 0.0f};

constexpr int16_t kStdVideoBitrates[] = {90,   150,  190,  216,  384,  400,   500,  512,  700,
                                         768,  800,  1000, 1150, 1200, 1300,  1400, 1500, 2000,
                                         2376, 2400, 3000, 4000, 8000, kOrig, 0};

constexpr int16_t kStdAudioBitrates[] = {16,  32,  48,  56,  64,  96,  112,
                                         128, 160, 192, 224, 256, 320, 0};

constexpr int32_t kStdSampleRates[] = {8000, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 0};

namespace {

constexpr FrameSize kCustomZuneFrameSizes[] = {
    {160, 120}, {320, 180}, {320, 240}, {480, 368}, {512, 384}, {640, 480}, {0, 0},
};

constexpr const char* kMpeg4VideoCodecs[] = {"MP4", "H264", nullptr};

} // namespace

// Lists a row does not name are the standard lists (see OutputProfile).
constexpr OutputProfile kProfiles[kProfileCount + 1] = {
    {
        .id = 500,
        .name = "Zune Video (*.mp4) (320x240) H.Quality",
        .width = 320,
        .height = 240,
        .frameRate = kOrigRate,
        .videoBitrate = 1500,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = "MP4",
        .audioCodec = "AAC",
        .extension = "mp4",
        .editable = false,
        .audioOnly = false,
    },
    {
        .id = 510,
        .name = "Zune Video (*.mp4) (320x180) H.Quality",
        .width = 320,
        .height = 180,
        .frameRate = kOrigRate,
        .videoBitrate = 1500,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = "MP4",
        .audioCodec = "AAC",
        .extension = "mp4",
        .editable = false,
        .audioOnly = false,
    },
    {
        .id = 520,
        .name = "Zune Video (*.mp4) (320x240)",
        .width = 320,
        .height = 240,
        .frameRate = kOrigRate,
        .videoBitrate = 512,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = "MP4",
        .audioCodec = "AAC",
        .extension = "mp4",
        .editable = false,
        .audioOnly = false,
    },
    {
        .id = 530,
        .name = "Zune Video (*.mp4) (320x180)",
        .width = 320,
        .height = 180,
        .frameRate = kOrigRate,
        .videoBitrate = 512,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = "MP4",
        .audioCodec = "AAC",
        .extension = "mp4",
        .editable = false,
        .audioOnly = false,
    },
    {
        .id = 540,
        .name = "Zune Video (*.mp4) (Custom)",
        .width = 320,
        .height = 240,
        .frameRate = kRate29976,
        .videoBitrate = 512,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = "MP4",
        .audioCodec = "AAC",
        .extension = "mp4",
        .editable = true,
        .audioOnly = false,
        .frameSizes = kCustomZuneFrameSizes,
    },
    {
        .id = 700,
        .name = "MPEG-4 video (*.mp4)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kRate29976,
        .videoBitrate = 1200,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 48000,
        .videoCodec = "MP4",
        .audioCodec = "AAC",
        .extension = "mp4",
        .editable = true,
        .audioOnly = false,
        .videoCodecs = kMpeg4VideoCodecs,
    },
    {
        .id = 800,
        .name = "MPEG-1 video (*.mpg)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kRate29976,
        .videoBitrate = 1150,
        .audioBitrate = 224,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = "MPEG1",
        .audioCodec = "MP3",
        .extension = "mpg",
        .editable = true,
        .audioOnly = false,
    },
    {
        .id = 810,
        .name = "MPEG-2 video (*.mpg)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kRate29976,
        .videoBitrate = 4000,
        .audioBitrate = 224,
        .channels = 2,
        .sampleRate = 48000,
        .videoCodec = "MPEG2",
        .audioCodec = "MP3",
        .extension = "mpg",
        .editable = true,
        .audioOnly = false,
    },
    {
        .id = 900,
        .name = "WMV video (*.wmv)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kOrigRate,
        .videoBitrate = 512,
        .audioBitrate = 192,
        .channels = 2,
        .sampleRate = 48000,
        .videoCodec = "WMV1",
        .audioCodec = "MP3",
        .extension = "wmv",
        .editable = true,
        .audioOnly = false,
    },
    {
        .id = 1000,
        .name = "AVI video (*.avi)",
        .width = 320,
        .height = 240,
        .frameRate = 25.0f,
        .videoBitrate = 4000,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = "msmpeg4v2",
        .audioCodec = "MP3",
        .extension = "avi",
        .editable = true,
        .audioOnly = false,
    },
    {
        .id = 1010,
        .name = "AVI video, DivX (*.avi)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kRate29976,
        .videoBitrate = 4000,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 48000,
        .videoCodec = "DIVX",
        .audioCodec = "MP3",
        .extension = "avi",
        .editable = true,
        .audioOnly = false,
    },
    {
        .id = 1020,
        .name = "AVI video, Xvid (*.avi)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kRate29976,
        .videoBitrate = 4000,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 48000,
        .videoCodec = "XVID",
        .audioCodec = "MP3",
        .extension = "avi",
        .editable = true,
        .audioOnly = false,
    },
    {
        .id = 5000,
        .name = "MP3 audio (*.mp3)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kOrigRate,
        .videoBitrate = kOrig,
        .audioBitrate = 192,
        .channels = 2,
        .sampleRate = 48000,
        .videoCodec = "",
        .audioCodec = "MP3",
        .extension = "mp3",
        .editable = true,
        .audioOnly = true,
    },
    {
        .id = 5010,
        .name = "WAV audio (*.wav)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kOrigRate,
        .videoBitrate = kOrig,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = nullptr,
        .audioCodec = "pcm",
        .extension = "wav",
        .editable = true,
        .audioOnly = true,
    },
    {
        .id = 5020,
        .name = "WMA audio (*.wma)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kOrigRate,
        .videoBitrate = kOrig,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = nullptr,
        .audioCodec = "WMA",
        .extension = "wma",
        .editable = true,
        .audioOnly = true,
    },
    {
        .id = 5030,
        .name = "MP2 audio (*.mp2)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kOrigRate,
        .videoBitrate = kOrig,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = nullptr,
        .audioCodec = "MP2",
        .extension = "mp2",
        .editable = true,
        .audioOnly = true,
    },
    {
        .id = 5040,
        .name = "M4A audio (*.m4a)",
        .width = kOrig,
        .height = kOrig,
        .frameRate = kOrigRate,
        .videoBitrate = kOrig,
        .audioBitrate = 128,
        .channels = 2,
        .sampleRate = 44100,
        .videoCodec = "",
        .audioCodec = "AAC",
        .extension = "m4a",
        .editable = true,
        .audioOnly = true,
    },
    {
        .id = -1,
        .name = "",
        .width = 0,
        .height = 0,
        .frameRate = 0.0f,
        .videoBitrate = 0,
        .audioBitrate = 0,
        .channels = 0,
        .sampleRate = 0,
        .videoCodec = nullptr,
        .audioCodec = nullptr,
        .extension = "",
        .editable = false,
        .audioOnly = false,
    },
};

constexpr int16_t kChannelCounts[] = {1, 2, 0};

namespace {

// The extensions with their dot, so ProfileExtension can hand out a constant.
constexpr const char* kDottedExtensions[kProfileCount] = {
    ".mp4", ".mp4", ".mp4", ".mp4", ".mp4", ".mp4", ".mpg", ".mpg", ".wmv",
    ".avi", ".avi", ".avi", ".mp3", ".wav", ".wma", ".mp2", ".m4a",
};

constexpr bool SameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

constexpr bool DottedExtensionsMatch() {
    for (int i = 0; i < kProfileCount; ++i) {
        if (kDottedExtensions[i][0] != '.' ||
            !SameText(kDottedExtensions[i] + 1, kProfiles[i].extension))
            return false;
    }
    return true;
}

static_assert(DottedExtensionsMatch());
static_assert(kProfiles[kProfileCount].id == -1);
static_assert(std::bit_cast<uint32_t>(kProfiles[4].frameRate) == 0x41EFCED9);

void CopyTag(std::string& dest, const char* tag) {
    dest.clear();
    if (tag == nullptr) return;
    for (int i = 0; i < kCodecTagMaxLen && tag[i] != '\0'; ++i)
        dest.push_back(tag[i]);
}

} // namespace

int ProfileIndexById(int16_t id) {
    for (int i = 0; kProfiles[i].id != -1; ++i) {
        if (kProfiles[i].id == id) return i;
    }
    return 0;
}

int ProfileIndexClamp(int index) {
    return (index >= 0 && index < kProfileCount) ? index : 0;
}

const char* ProfileExtension(int16_t id) {
    return kDottedExtensions[ProfileIndexById(id)];
}

void ProfileApplyDefaults(AppSettings& settings, int rowIndex) {
    const OutputProfile& row = kProfiles[ProfileIndexClamp(rowIndex)];
    settings.profileId = row.id;
    settings.disableVideo = 0;
    settings.width = row.width;
    settings.height = row.height;
    settings.frameRate = row.frameRate;
    settings.videoBitrate = row.videoBitrate;
    settings.aspect = 0;
    settings.disableAudio = 0;
    settings.audioBitrate = row.audioBitrate;
    settings.channels = row.channels;
    settings.sampleRate = row.sampleRate;
    settings.volume = 100;
    CopyTag(settings.videoCodec, row.videoCodec);
    CopyTag(settings.audioCodec, row.audioCodec);
}

void SettingsReset(AppSettings& settings) {
    settings = AppSettings{};
    ProfileApplyDefaults(settings, 0);
    // Row 0 names its codecs, but a fresh record leaves the choice to the converter.
    settings.videoCodec.clear();
    settings.audioCodec.clear();
}

void SettingsCopyConversion(AppSettings& snapshot, const AppSettings& live) {
    snapshot.destFolder = live.destFolder;
    snapshot.spareFolder = live.spareFolder;
    snapshot.addFolder = live.addFolder;
    snapshot.profileId = live.profileId;
    snapshot.disableVideo = live.disableVideo;
    snapshot.width = live.width;
    snapshot.height = live.height;
    snapshot.frameRate = live.frameRate;
    snapshot.videoBitrate = live.videoBitrate;
    snapshot.aspect = live.aspect;
    snapshot.videoCodec = live.videoCodec;
    snapshot.disableAudio = live.disableAudio;
    snapshot.audioBitrate = live.audioBitrate;
    snapshot.channels = live.channels;
    snapshot.sampleRate = live.sampleRate;
    snapshot.volume = live.volume;
    snapshot.audioCodec = live.audioCodec;
}

int ListIndexOf(const FrameSize* list, FrameSize value) {
    if (list == nullptr) return 0;
    for (int i = 0; list[i].width != 0; ++i) {
        if (list[i].width == value.width && list[i].height == value.height) return i;
    }
    return 0;
}

int ListIndexOf(const float* list, float value) {
    if (list == nullptr) return 0;
    for (int i = 0; list[i] != 0.0f; ++i) {
        if (list[i] == value) return i;
    }
    return 0;
}

int ListIndexOf(const int16_t* list, int16_t value) {
    if (list == nullptr) return 0;
    for (int i = 0; list[i] != 0; ++i) {
        if (list[i] == value) return i;
    }
    return 0;
}

int ListIndexOf(const int32_t* list, int32_t value) {
    if (list == nullptr) return 0;
    for (int i = 0; list[i] != 0; ++i) {
        if (list[i] == value) return i;
    }
    return 0;
}

int ListIndexOf(const char* const* list, const char* tag) {
    if (list == nullptr || tag == nullptr || tag[0] == '\0') return 0;
    for (int i = 0; list[i] != nullptr && list[i][0] != '\0'; ++i) {
        if (strcasecmp(list[i], tag) == 0) return i;
    }
    return 0;
}

std::string CodecLabel(const char* tag) {
    if (tag == nullptr || tag[0] == '\0') return "(Default)";
    std::string label;
    for (int i = 0; i < kCodecTagMaxLen && tag[i] != '\0'; ++i)
        label.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(tag[i]))));
    return label;
}

std::string FrameRateLabel(float rate) {
    const double value = rate;
    double whole = 0.0;
    const double fraction = std::modf(value, &whole);
    char text[64];
    if (fraction >= 0.00001)
        std::snprintf(text, sizeof text, "%.3f", value);
    else
        std::snprintf(text, sizeof text, "%.0f", whole);
    std::string label = text;
    // Truncated double product: the stored 29.976 gives 29975.99..., which
    // is what marks it NTSC.
    const double thousandths = std::trunc(value * 1000.0);
    if (thousandths == 25000.0)
        label += "         (PAL)";
    else if (thousandths == 29975.0)
        label += "  (NTSC)";
    return label;
}

std::string FrameSizeText(FrameSize size) {
    if (size.width == -1 && size.height == -1) return "Original";
    char text[48];
    std::snprintf(text, sizeof text, "%d x %d", size.width, size.height);
    return text;
}

std::string NumberText(int32_t value) {
    if (value == -1) return "Original";
    return std::to_string(value);
}

std::string FrameRateText(float rate) {
    if (rate < 0.0f) return "Original";
    return FrameRateLabel(rate);
}

std::string ChannelText(int16_t channels) {
    switch (channels) {
    case 1:
        return "Mono (1)";
    case 2:
        return "Stereo (2)";
    default:
        return "Original";
    }
}

std::string VolumeText(int percent) {
    std::string text = std::to_string(percent) + "%";
    if (percent == 100) text += "  (normal)";
    return text;
}
