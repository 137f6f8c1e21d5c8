// The converter's own command line: the old ffmpeg option syntax that the
// program builds, plus the two private options naming the progress slot.
#pragma once

#include <string>
#include <vector>

struct ConvertRequest {
    bool overwrite = false;   // -y
    bool noAudio = false;     // -an
    bool noVideo = false;     // -vn
    bool sameQuality = false; // -sameq
    bool dryRun = false;      // --dry-run: print the ffmpeg command and stop
    std::string source;       // -i
    std::string channelName;  // -brmap: 12 digits, empty when absent or malformed
    int slotIndex = -1;       // -brind: -1 when absent or malformed
    std::string videoCodec;   // -vcodec
    std::string videoTag;     // -vtag
    std::string audioCodec;   // -acodec
    std::string format;       // -f
    std::string frameSize;    // -s
    std::string frameRate;    // -r
    std::string videoBitrate; // -b
    std::string audioBitrate; // -ab
    std::string channels;     // -ac
    std::string sampleRate;   // -ar
    std::string volume;       // -vol
    std::string aspect;       // -aspect
    std::vector<std::string> extra; // anything else, passed on in order
    std::string output;       // empty: a probe run

    bool IsProbe() const { return output.empty(); }
    bool HasSlot() const { return !channelName.empty() && slotIndex >= 0; }
};

// Reads the argument vector (without the program name). Returns false with a
// message for a line that cannot be run at all (no source, an option without
// its value). Malformed -brmap / -brind only mean "no slot".
bool ParseConvertArgs(const std::vector<std::string>& args, ConvertRequest& request,
                      std::string& error);
