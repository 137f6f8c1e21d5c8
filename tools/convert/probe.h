// Measuring a source in-process with libavformat.
#pragma once

#include <string>

#include "tools/convert/ffmpeg_output.h"

struct SourceInfo {
    bool opened = false;     // a media file that libavformat could read
    bool hasAudioOrVideo = false;
    double duration = -1.0;  // seconds; -1 when unknown
    StreamKinds streamKinds; // by stream index
    std::string error;       // why it is not usable, for the user
    bool libraryMissing = false; // libavformat itself could not be loaded

    // What a probe run accepts: readable, with sound or pictures, and a known length.
    bool Usable() const { return opened && hasAudioOrVideo && duration >= 0.0; }
};

SourceInfo ProbeSource(const std::string& path);
