#include "tools/convert/ffmpeg_output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

constexpr size_t kTailLines = 40;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// A number at the start of text ("1.5x", "12345"); -1 for "N/A" or nothing.
double LeadingNumber(std::string_view text) {
    text = Trim(text);
    double value = -1.0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr == text.data() || !std::isfinite(value)) return -1.0;
    return value;
}

// Reads "F:S" at text; advances text past it.
bool ReadStreamId(std::string_view& text, int& file, int& stream) {
    const char* end = text.data() + text.size();
    auto r1 = std::from_chars(text.data(), end, file);
    if (r1.ec != std::errc() || r1.ptr == end || *r1.ptr != ':') return false;
    auto r2 = std::from_chars(r1.ptr + 1, end, stream);
    if (r2.ec != std::errc()) return false;
    text.remove_prefix(static_cast<size_t>(r2.ptr - text.data()));
    return true;
}

// Audio codec and encoder names as ffmpeg writes them in its stream mapping.
bool IsAudioEncoderName(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "aac", "mp2", "mp2fixed", "mp3", "libmp3lame", "libshine", "ac3", "ac3_fixed", "eac3",
        "wmav1", "wmav2", "amr_nb", "amr_wb", "libopencore_amrnb", "libvo_amrwbenc", "libtwolame",
        "vorbis", "libvorbis", "opus", "libopus", "flac", "alac", "truehd", "dts", "dca",
    };
    if (name.starts_with("pcm_") || name.starts_with("adpcm_")) return true;
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

} // namespace

bool ProgressParser::FeedLine(std::string_view line) {
    line = Trim(line);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    if (key == "out_time_us") {
        pending_.outTimeUs = LeadingNumber(value);
    } else if (key == "total_size") {
        pending_.totalSize = LeadingNumber(value);
    } else if (key == "speed") {
        pending_.speed = LeadingNumber(value);
    } else if (key == "progress") {
        pending_.ended = Trim(value) == "end";
        // A block that lacks a value keeps the last known one.
        if (pending_.outTimeUs < 0) pending_.outTimeUs = latest_.outTimeUs;
        if (pending_.totalSize < 0) pending_.totalSize = latest_.totalSize;
        if (pending_.speed < 0) pending_.speed = latest_.speed;
        latest_ = pending_;
        pending_ = ProgressReport{};
        return true;
    }
    return false;
}

double PercentDone(double outTimeUs, double durationSeconds) {
    if (!(outTimeUs > 0.0) || !(durationSeconds > 0.0)) return 0.0;
    const double percent = outTimeUs / (durationSeconds * 1e6) * 100.0;
    if (!std::isfinite(percent)) return 0.0;
    return std::clamp(percent, 0.0, 100.0);
}

namespace {

// ffmpeg's account of what it does rather than of what went wrong: the
// listings of inputs, outputs and the stream mapping (their detail lines are
// indented: streams, metadata, side data), and the banner.
bool IsListingLine(std::string_view rawLine, std::string_view line) {
    if (!rawLine.empty() && (rawLine.front() == ' ' || rawLine.front() == '\t')) return true;
    static constexpr std::string_view kHeads[] = {
        "Input #", "Output #", "Stream mapping:", "Press [q] to stop", "ffmpeg version",
        "ffmpeg stats and -progress period",
    };
    for (std::string_view head : kHeads)
        if (line.starts_with(head)) return true;
    return false;
}

} // namespace

double ParseFfmpegClock(std::string_view text) {
    double parts[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        size_t digits = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
        if (digits == 0) return -1.0;
        double value = 0;
        for (size_t d = 0; d < digits; ++d) value = value * 10 + (text[d] - '0');
        text.remove_prefix(digits);
        if (i < 2) {
            if (text.empty() || text.front() != ':') return -1.0;
            text.remove_prefix(1);
        } else if (!text.empty() && text.front() == '.') {
            text.remove_prefix(1);
            double scale = 0.1;
            while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
                value += (text.front() - '0') * scale;
                scale /= 10;
                text.remove_prefix(1);
            }
        }
        parts[i] = value;
    }
    if (parts[1] >= 60 || parts[2] >= 60) return -1.0;
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

void FfmpegLog::FeedLine(std::string_view rawLine) {
    const std::string_view line = Trim(rawLine);
    if (line.empty()) return;
    tail_.emplace_back(line);
    if (tail_.size() > kTailLines) tail_.pop_front();
    if (!IsListingLine(rawLine, line)) {
        errors_.emplace_back(line);
        if (errors_.size() > kTailLines) errors_.pop_front();
    }
    if (line.starts_with("Press [q] to stop")) {
        started_ = true;
        sinceStart_ = 0;
        return;
    }
    if (started_ && sinceStart_ < tail_.size()) ++sinceStart_;

    if (line.starts_with("Input #0")) {
        inInputSection_ = true;
        return;
    }
    if (line.starts_with("Output #") || line.starts_with("Stream mapping:") ||
        line.starts_with("Input #")) {
        inInputSection_ = false;
        return;
    }

    // "Duration: 00:01:00.04, start: 0.000000, bitrate: 1631 kb/s"
    if (inInputSection_ && inputDuration_ < 0 && line.starts_with("Duration: ")) {
        inputDuration_ = ParseFfmpegClock(line.substr(10));
        return;
    }

    // "Stream #0:1[0x2](und): Audio: aac ..." in the input listing.
    if (inInputSection_ && line.starts_with("Stream #")) {
        std::string_view rest = line.substr(8);
        int file = 0;
        int stream = 0;
        if (!ReadStreamId(rest, file, stream) || file != 0 || stream < 0 || stream > 10000) return;
        char kind = 'o';
        if (rest.find(": Audio:") != std::string_view::npos)
            kind = 'a';
        else if (rest.find(": Video:") != std::string_view::npos)
            kind = 'v';
        if (inputKinds_.size() <= static_cast<size_t>(stream))
            inputKinds_.resize(static_cast<size_t>(stream) + 1, 'o');
        inputKinds_[static_cast<size_t>(stream)] = kind;
        return;
    }

    // "Stream #0:1 -> #0:1 (aac (native) -> mp2 (native))" in the mapping.
    if (line.starts_with("Stream #")) {
        std::string_view rest = line.substr(8);
        Mapping mapping;
        int file = 0;
        if (!ReadStreamId(rest, file, mapping.inputStream) || file != 0) return;
        if (!rest.starts_with(" -> #")) return;
        rest.remove_prefix(5);
        int outFile = 0;
        if (!ReadStreamId(rest, outFile, mapping.outputStream)) return;
        const size_t arrow = rest.rfind(" -> ");
        if (arrow != std::string_view::npos) {
            std::string_view encoder = rest.substr(arrow + 4);
            const size_t stop = encoder.find_first_of(" )");
            mapping.encoder = std::string(encoder.substr(0, stop));
        }
        mappings_.push_back(std::move(mapping));
        return;
    }

    constexpr std::string_view kOpenFailed = "Error while opening encoder for output stream #";
    const size_t at = line.find(kOpenFailed);
    if (at != std::string_view::npos) {
        std::string_view rest = line.substr(at + kOpenFailed.size());
        int file = 0;
        int stream = 0;
        if (ReadStreamId(rest, file, stream)) failedOutputs_.push_back(stream);
    }
}

bool FfmpegLog::AudioRefused(const StreamKinds& probeKinds) const {
    for (int failed : failedOutputs_) {
        for (const Mapping& mapping : mappings_) {
            if (mapping.outputStream != failed) continue;
            const size_t in = static_cast<size_t>(mapping.inputStream);
            char kind = 'o';
            if (in < inputKinds_.size()) kind = inputKinds_[in];
            if (kind == 'o' && in < probeKinds.size()) kind = probeKinds[in];
            if (kind == 'o' && IsAudioEncoderName(mapping.encoder)) kind = 'a';
            if (kind == 'a') return true;
        }
    }
    return false;
}

std::vector<std::string> FfmpegLog::Tail(size_t count) const {
    const size_t first = tail_.size() > count ? tail_.size() - count : 0;
    return std::vector<std::string>(tail_.begin() + static_cast<std::ptrdiff_t>(first), tail_.end());
}

std::vector<std::string> FfmpegLog::ErrorLines(size_t count) const {
    if (errors_.empty()) {
        if (!started_ || sinceStart_ == 0) return Tail(count);
        return Tail(std::min(count, sinceStart_));
    }
    const size_t first = errors_.size() > count ? errors_.size() - count : 0;
    return std::vector<std::string>(errors_.begin() + static_cast<std::ptrdiff_t>(first), errors_.end());
}
