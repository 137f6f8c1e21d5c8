// Reading what ffmpeg prints: the -progress key=value blocks on its standard
// output and the log on its standard error.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

struct ProgressReport {
    double outTimeUs = -1.0; // position reached in the output; -1 while unknown
    double totalSize = -1.0; // bytes written so far; -1 while unknown
    double speed = -1.0;     // times real time; -1 while unknown
    bool ended = false;      // the last block (progress=end) was seen
};

class ProgressParser {
public:
    // One line of -progress output. True when it closed a block; Latest() is then updated.
    bool FeedLine(std::string_view line);
    const ProgressReport& Latest() const { return latest_; }

private:
    ProgressReport pending_;
    ProgressReport latest_;
};

// "HH:MM:SS.ss" as ffmpeg prints a duration, in seconds; negative when the
// text does not start with one.
double ParseFfmpegClock(std::string_view text);

// Share of the source done, 0 to 100; 0 when either figure is unknown.
double PercentDone(double outTimeUs, double durationSeconds);

// Stream kinds by index: 'v' video, 'a' audio, 'o' other.
using StreamKinds = std::vector<char>;

class FfmpegLog {
public:
    void FeedLine(std::string_view line);

    // True when ffmpeg failed to open the encoder of an audio output stream:
    // its audio options (rate, channels, bit rate) were refused. The input
    // stream kinds come from ffmpeg's own listing, else from probeKinds, else
    // the encoder's name tells.
    bool AudioRefused(const StreamKinds& probeKinds) const;

    // The first input's duration from ffmpeg's listing ("Duration: 00:01:00.04"),
    // in seconds; negative when not (yet) seen or not known ("N/A").
    double InputDuration() const { return inputDuration_; }

    // The last lines, oldest first.
    std::vector<std::string> Tail(size_t count) const;
    // The last lines that say what went wrong: the listings of inputs,
    // outputs and streams and the banner left out (the plain tail when
    // nothing else was printed).
    std::vector<std::string> ErrorLines(size_t count) const;

private:
    struct Mapping {
        int inputStream = -1;
        int outputStream = -1;
        std::string encoder;
    };
    bool inInputSection_ = false;
    double inputDuration_ = -1.0;
    StreamKinds inputKinds_;
    std::vector<Mapping> mappings_;
    std::vector<int> failedOutputs_;
    std::deque<std::string> tail_;
    std::deque<std::string> errors_; // the tail without the listings
    size_t sinceStart_ = 0; // lines in tail_ after "Press [q] to stop"
    bool started_ = false;
};
