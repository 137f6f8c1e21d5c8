// The 17 output profiles, their option lists, and the settings record.
#pragma once

#include <cstdint>
#include <string>

struct FrameSize {
    int32_t width;
    int32_t height;
};

// The standard option lists, each closed by its terminator entry.
extern const FrameSize kStdFrameSizes[];
extern const float kStdFrameRates[];
extern const int16_t kStdVideoBitrates[];
extern const int16_t kStdAudioBitrates[];
extern const int32_t kStdSampleRates[];

// One row of the profile table. Lists end with a terminator entry (frame size
// width 0, rate 0.0, bitrate/rate 0, codec tag null); -1 means Original.
// Every row's lists are complete: a row without a list of its own points at
// the standard list. Codec lists may be null.
struct OutputProfile {
    int16_t id;
    const char* name;
    int16_t width;
    int16_t height;
    float frameRate;
    int16_t videoBitrate;
    int16_t audioBitrate;
    int16_t channels;
    int32_t sampleRate;
    const char* videoCodec;             // null: none
    const char* audioCodec;             // null: none
    const char* container = nullptr;    // null: none
    const char* extension;
    const char* extraOptions = nullptr; // null: none
    bool editable;
    bool audioOnly;
    const FrameSize* frameSizes = kStdFrameSizes;
    const float* frameRates = kStdFrameRates;
    const int16_t* videoBitrates = kStdVideoBitrates;
    const char* const* videoCodecs = nullptr;
    const int16_t* audioBitrates = kStdAudioBitrates;
    const int32_t* sampleRates = kStdSampleRates;
    const char* const* audioCodecs = nullptr;
};

constexpr int kProfileCount = 17;
// kProfileCount rows followed by a terminator row whose id is -1.
extern const OutputProfile kProfiles[kProfileCount + 1];
extern const int16_t kChannelCounts[];
constexpr int kVolumeStep = 25;
constexpr int kVolumeMax = 500;

// Longest codec tag kept in the settings record.
constexpr int kCodecTagMaxLen = 49;

struct AppSettings {
    std::string destFolder;
    std::string spareFolder;
    std::string addFolder;
    int16_t profileId = 500;
    uint8_t showToolbar = 1;
    uint8_t spareFlag = 1;
    uint8_t showSettingsPanel = 1;
    uint8_t showStatusBar = 1;
    int32_t updateCheckDay = 0;
    uint8_t showTipAtStart = 1;
    int16_t maxConversions = 2;
    uint8_t saveHistory = 1;
    uint8_t removeStopped = 1;
    uint8_t disableVideo = 0;
    int16_t width = 320;
    int16_t height = 240;
    float frameRate = -1.0f;
    int16_t videoBitrate = 1500;
    int16_t aspect = 0;
    uint8_t disableAudio = 0;
    int16_t audioBitrate = 128;
    int16_t channels = 2;
    int32_t sampleRate = 44100;
    int16_t volume = 100;
    std::string videoCodec;
    std::string audioCodec;
    uint8_t internalPlayer = 1;
    uint8_t shutdownAfter = 0;
    uint8_t exitAfter = 0;
};

int ProfileIndexById(int16_t id);
int ProfileIndexClamp(int index);
// "." and the extension of the profile with this id (row 0 for an unknown id).
const char* ProfileExtension(int16_t id);
void ProfileApplyDefaults(AppSettings& settings, int rowIndex);
void SettingsReset(AppSettings& settings);
void SettingsCopyConversion(AppSettings& snapshot, const AppSettings& live);

// Index of the first equal entry, 0 when none is equal.
int ListIndexOf(const FrameSize* list, FrameSize value);
int ListIndexOf(const float* list, float value);
int ListIndexOf(const int16_t* list, int16_t value);
int ListIndexOf(const int32_t* list, int32_t value);
int ListIndexOf(const char* const* list, const char* tag);

std::string CodecLabel(const char* tag);
std::string FrameRateLabel(float rate);
// Entry texts as the settings dialog shows them.
std::string FrameSizeText(FrameSize size);
std::string NumberText(int32_t value);   // bitrates and sample rates
std::string FrameRateText(float rate);
std::string ChannelText(int16_t channels);
std::string VolumeText(int percent);
