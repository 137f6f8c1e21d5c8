#include "tools/convert/options.h"

#include <charconv>
#include <cstring>

#include "converter/progress_slot.h"

namespace {

struct ValueOption {
    const char* name;
    std::string ConvertRequest::*field;
};

// Old names first; the modern spellings are accepted too so that a hand-typed
// standalone command gets the same translation.
constexpr ValueOption kValueOptions[] = {
    {.name = "-i", .field = &ConvertRequest::source},
    {.name = "-vcodec", .field = &ConvertRequest::videoCodec},
    {.name = "-c:v", .field = &ConvertRequest::videoCodec},
    {.name = "-vtag", .field = &ConvertRequest::videoTag},
    {.name = "-tag:v", .field = &ConvertRequest::videoTag},
    {.name = "-acodec", .field = &ConvertRequest::audioCodec},
    {.name = "-c:a", .field = &ConvertRequest::audioCodec},
    {.name = "-f", .field = &ConvertRequest::format},
    {.name = "-s", .field = &ConvertRequest::frameSize},
    {.name = "-r", .field = &ConvertRequest::frameRate},
    {.name = "-b", .field = &ConvertRequest::videoBitrate},
    {.name = "-b:v", .field = &ConvertRequest::videoBitrate},
    {.name = "-ab", .field = &ConvertRequest::audioBitrate},
    {.name = "-b:a", .field = &ConvertRequest::audioBitrate},
    {.name = "-ac", .field = &ConvertRequest::channels},
    {.name = "-ar", .field = &ConvertRequest::sampleRate},
    {.name = "-vol", .field = &ConvertRequest::volume},
    {.name = "-aspect", .field = &ConvertRequest::aspect},
};

struct FlagOption {
    const char* name;
    bool ConvertRequest::*field;
};

constexpr FlagOption kFlagOptions[] = {
    {.name = "-y", .field = &ConvertRequest::overwrite},
    {.name = "-an", .field = &ConvertRequest::noAudio},
    {.name = "-vn", .field = &ConvertRequest::noVideo},
    {.name = "-sameq", .field = &ConvertRequest::sameQuality},
    {.name = "--dry-run", .field = &ConvertRequest::dryRun},
};

bool IsChannelName(const std::string& text) {
    if (text.size() != static_cast<size_t>(kProgressNameDigits)) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

int ParseSlotIndex(const std::string& text) {
    int value = -1;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < 0 || value >= kProgressSlotCount) return -1;
    return value;
}

} // namespace

bool ParseConvertArgs(const std::vector<std::string>& args, ConvertRequest& request,
                      std::string& error) {
    request = ConvertRequest{};
    bool sourceSeen = false;
    const size_t count = args.size();
    for (size_t i = 0; i < count; ++i) {
        const std::string& arg = args[i];

        bool handled = false;
        for (const FlagOption& flag : kFlagOptions) {
            if (arg == flag.name) {
                request.*(flag.field) = true;
                handled = true;
                break;
            }
        }
        if (handled) continue;

        const bool isBrmap = arg == "-brmap";
        const bool isBrind = arg == "-brind";
        const ValueOption* valueOption = nullptr;
        for (const ValueOption& option : kValueOptions) {
            if (arg == option.name) {
                valueOption = &option;
                break;
            }
        }
        if (isBrmap || isBrind || valueOption) {
            if (i + 1 >= count) {
                error = "missing value after " + arg;
                return false;
            }
            const std::string& value = args[++i];
            if (isBrmap) {
                request.channelName = IsChannelName(value) ? value : std::string();
            } else if (isBrind) {
                request.slotIndex = ParseSlotIndex(value);
            } else {
                if (valueOption->field == &ConvertRequest::source) {
                    if (sourceSeen) {
                        error = "only one input file is accepted";
                        return false;
                    }
                    sourceSeen = true;
                }
                request.*(valueOption->field) = value;
            }
            continue;
        }

        // The output path always comes last, whatever it looks like (it may
        // begin with a dash); everything else is an extra option for ffmpeg.
        if (i + 1 == count)
            request.output = arg;
        else
            request.extra.push_back(arg);
    }
    if (!sourceSeen || request.source.empty()) {
        error = "no input file (-i) given";
        return false;
    }
    if (request.output.empty() && !request.extra.empty()) {
        error = "options without an output file";
        return false;
    }
    return true;
}
