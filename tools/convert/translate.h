// Turns the old option syntax into an ffmpeg 5.1 argument vector.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/convert/options.h"

// The container facts an output name or an -f value implies.
struct ContainerInfo {
    std::string muxer;        // ffmpeg's format name, empty to let ffmpeg guess
    std::string videoEncoder; // ffmpeg's default video encoder for it, empty when none
    std::string audioEncoder; // ffmpeg's default audio encoder where it matters
    bool audioOnly = false;
};

// By -f value (as typed) when given, else by the output's extension.
ContainerInfo ContainerFor(const std::string& format, const std::string& outputPath);

// A path as ffmpeg must see it: through the file protocol, so that a leading
// dash or a colon in the name is never read as an option or a protocol.
std::string FfmpegFileArg(const std::string& path);

// "1500kb" -> "1500k": ffmpeg 5.1 refuses a trailing lower-case b; an
// upper-case B (bytes) is left alone.
std::string StripBitsSuffix(const std::string& value);

// The standard MPEG-1/2 rate nearest to a rate given as "N/D" or a number;
// empty when the text is no positive rate.
std::string SnapMpegFrameRate(const std::string& rate);

// The audio encoder name ffmpeg 5.1 knows for an old one.
std::string ModernAudioEncoder(const std::string& name, const ContainerInfo& container);

// Everything after the ffmpeg path. The progress options and the overwrite
// choice are included; stdin stays open for the "q" that stops a run.
std::vector<std::string> TranslateForFfmpeg(const ConvertRequest& request);

// The audio encoder that the translated command asks for (or, failing that,
// the container's usual one); empty when the output has no audio.
std::string TranslatedAudioEncoder(const ConvertRequest& request);
