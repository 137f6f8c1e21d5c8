#include "tools/convert/translate.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

struct ContainerRow {
    const char* key; // extension, or -f value as the old syntax wrote it
    const char* muxer;
    const char* videoEncoder;
    bool audioOnly;
    const char* audioEncoder = ""; // only where ffmpeg's default needs care
};

// Old -f names that 5.1 no longer takes map here too (wmv, wma, m4a, mpg).
constexpr ContainerRow kContainers[] = {
    {.key = "mp4", .muxer = "mp4", .videoEncoder = "libx264", .audioOnly = false},
    {.key = "m4v", .muxer = "ipod", .videoEncoder = "libx264", .audioOnly = false},
    {.key = "mov", .muxer = "mov", .videoEncoder = "libx264", .audioOnly = false},
    {.key = "mkv", .muxer = "matroska", .videoEncoder = "libx264", .audioOnly = false},
    {.key = "avi", .muxer = "avi", .videoEncoder = "mpeg4", .audioOnly = false},
    {.key = "mpg", .muxer = "mpeg", .videoEncoder = "mpeg1video", .audioOnly = false},
    {.key = "mpeg", .muxer = "mpeg", .videoEncoder = "mpeg1video", .audioOnly = false},
    {.key = "wmv", .muxer = "asf", .videoEncoder = "msmpeg4", .audioOnly = false},
    {.key = "asf", .muxer = "asf", .videoEncoder = "msmpeg4", .audioOnly = false},
    {.key = "3gp", .muxer = "3gp", .videoEncoder = "h263", .audioOnly = false,
     .audioEncoder = "libopencore_amrnb"},
    {.key = "flv", .muxer = "flv", .videoEncoder = "flv", .audioOnly = false},
    {.key = "mp3", .muxer = "mp3", .videoEncoder = "", .audioOnly = true},
    {.key = "wav", .muxer = "wav", .videoEncoder = "", .audioOnly = true},
    {.key = "wma", .muxer = "asf", .videoEncoder = "", .audioOnly = true},
    {.key = "mp2", .muxer = "mp2", .videoEncoder = "", .audioOnly = true},
    {.key = "m4a", .muxer = "ipod", .videoEncoder = "", .audioOnly = true},
    {.key = "amr", .muxer = "amr", .videoEncoder = "", .audioOnly = true,
     .audioEncoder = "libopencore_amrnb"},
    {.key = "aac", .muxer = "adts", .videoEncoder = "", .audioOnly = true},
    {.key = "ac3", .muxer = "ac3", .videoEncoder = "", .audioOnly = true},
    {.key = "ogg", .muxer = "ogg", .videoEncoder = "", .audioOnly = true},
    {.key = "flac", .muxer = "flac", .videoEncoder = "", .audioOnly = true},
};

struct NameRow {
    const char* old;
    const char* now;
};

constexpr NameRow kAudioEncoders[] = {
    {.old = "libfaac", .now = "aac"},
    {.old = "libfdk_aac", .now = "aac"},
    {.old = "libamr_nb", .now = "libopencore_amrnb"},
    {.old = "amr_nb", .now = "libopencore_amrnb"},
};

struct Rate {
    int num;
    int den;
};

constexpr Rate kMpegRates[] = {
    {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}, {60, 1},
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ExtensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return Lower(path.substr(dot + 1));
}

bool IsX264(const std::string& encoder) {
    return encoder == "libx264" || encoder == "h264" || encoder == "libx264rgb";
}

bool IsMpeg12(const std::string& encoder) {
    return encoder == "mpeg1video" || encoder == "mpeg2video";
}

// A whole number, possibly signed; false for anything else.
bool ParseLong(const std::string& text, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end && *end == '\0';
}

bool IsAmrEncoder(const std::string& encoder) {
    return encoder == "libopencore_amrnb";
}

} // namespace

ContainerInfo ContainerFor(const std::string& format, const std::string& outputPath) {
    ContainerInfo info;
    const std::string key = format.empty() ? ExtensionOf(outputPath) : Lower(format);
    for (const ContainerRow& row : kContainers) {
        if (key == row.key) {
            info.muxer = row.muxer;
            info.videoEncoder = row.videoEncoder;
            info.audioOnly = row.audioOnly;
            info.audioEncoder = row.audioEncoder;
            return info;
        }
    }
    info.muxer = format; // an -f name we do not know goes to ffmpeg as typed
    return info;
}

std::string FfmpegFileArg(const std::string& path) {
    if (path == "-") return "pipe:"; // standalone use: standard input or output
    return "file:" + path;
}

std::string StripBitsSuffix(const std::string& value) {
    if (value.size() >= 2 && value.back() == 'b') {
        const char before = value[value.size() - 2];
        if (std::isdigit(static_cast<unsigned char>(before)) || std::strchr("kKmMgG", before))
            return value.substr(0, value.size() - 1);
    }
    return value;
}

std::string SnapMpegFrameRate(const std::string& rate) {
    double fps = 0.0;
    const size_t slash = rate.find('/');
    char* end = nullptr;
    if (slash == std::string::npos) {
        fps = std::strtod(rate.c_str(), &end);
        if (end == rate.c_str() || *end != '\0') return {};
    } else {
        const std::string numText = rate.substr(0, slash);
        const std::string denText = rate.substr(slash + 1);
        const double num = std::strtod(numText.c_str(), &end);
        if (end == numText.c_str() || *end != '\0') return {};
        const double den = std::strtod(denText.c_str(), &end);
        if (end == denText.c_str() || *end != '\0' || den <= 0.0) return {};
        fps = num / den;
    }
    if (!(fps > 0.0) || !std::isfinite(fps)) return {};
    const Rate* best = &kMpegRates[0];
    double bestDiff = INFINITY;
    for (const Rate& candidate : kMpegRates) {
        const double diff = std::fabs(static_cast<double>(candidate.num) / candidate.den - fps);
        if (diff < bestDiff) {
            bestDiff = diff;
            best = &candidate;
        }
    }
    return best->den == 1 ? std::to_string(best->num)
                          : std::to_string(best->num) + "/" + std::to_string(best->den);
}

std::string ModernAudioEncoder(const std::string& name, const ContainerInfo& container) {
    const std::string lower = Lower(name);
    for (const NameRow& row : kAudioEncoders)
        if (lower == row.old) return row.now;
    // WAVE has no signed 8-bit samples; unsigned is its 8-bit format.
    if (lower == "pcm_s8" && container.muxer == "wav") return "pcm_u8";
    return lower;
}

std::string TranslatedAudioEncoder(const ConvertRequest& request) {
    if (request.noAudio) return {};
    const ContainerInfo container = ContainerFor(request.format, request.output);
    if (!request.audioCodec.empty()) return ModernAudioEncoder(request.audioCodec, container);
    return container.audioEncoder;
}

std::vector<std::string> TranslateForFfmpeg(const ConvertRequest& request) {
    const ContainerInfo container = ContainerFor(request.format, request.output);
    const bool video = !request.noVideo && !container.audioOnly;
    const bool audio = !request.noAudio;

    std::vector<std::string> args = {
        "-hide_banner", request.overwrite ? "-y" : "-n", "-nostats",
        "-progress", "pipe:1", "-stats_period", "0.2",
        "-i", FfmpegFileArg(request.source),
    };
    auto add = [&args](std::initializer_list<std::string> items) {
        args.insert(args.end(), items);
    };

    if (!video) add({"-vn"});
    if (!audio) add({"-an"});

    if (video) {
        // ffmpeg's encoder names are all lower case.
        const std::string encoder =
            request.videoCodec.empty() ? container.videoEncoder : Lower(request.videoCodec);
        if (!request.videoCodec.empty()) add({"-c:v", encoder});
        if (!request.videoTag.empty()) {
            // The FourCC is written as typed; players look for the capitals.
            std::string tag = request.videoTag;
            if (Lower(tag) == "divx") tag = "DIVX";
            if (Lower(tag) == "xvid") tag = "XVID";
            add({"-tag:v", tag});
        }
        if (!request.frameSize.empty()) add({"-s", request.frameSize});
        if (!request.frameRate.empty()) {
            std::string rate = request.frameRate;
            // MPEG-1/2 know only a few rates; pick the nearest rather than
            // be refused or write a non-standard stream.
            if (IsMpeg12(encoder)) {
                const std::string snapped = SnapMpegFrameRate(rate);
                if (!snapped.empty()) rate = snapped;
            }
            add({"-r", rate});
        }
        if (!request.videoBitrate.empty()) {
            add({"-b:v", StripBitsSuffix(request.videoBitrate)});
        } else if (request.sameQuality) {
            if (IsX264(encoder))
                add({"-crf", "18"});
            else
                add({"-q:v", "2"});
        }
        if (!request.aspect.empty()) add({"-aspect", request.aspect});
    }

    if (audio) {
        const std::string encoder = TranslatedAudioEncoder(request);
        if (!request.audioCodec.empty()) add({"-c:a", encoder});
        if (!request.audioBitrate.empty()) add({"-b:a", StripBitsSuffix(request.audioBitrate)});
        if (IsAmrEncoder(encoder)) {
            add({"-ac", "1", "-ar", "8000"}); // the only layout AMR-NB takes
        } else {
            if (!request.channels.empty()) add({"-ac", request.channels});
            if (!request.sampleRate.empty()) add({"-ar", request.sampleRate});
        }
        if (!request.volume.empty()) {
            long volume = 0;
            if (!ParseLong(request.volume, volume))
                add({"-vol", request.volume}); // let ffmpeg judge what it is
            else if (volume != 256)
                add({"-af", "volume=" + std::to_string(volume) + "/256"});
        }
    }

    if (!container.muxer.empty()) add({"-f", container.muxer});
    args.insert(args.end(), request.extra.begin(), request.extra.end());
    if (!request.output.empty()) args.push_back(FfmpegFileArg(request.output));
    return args;
}
