// Running the ffmpeg binary as a child: progress into the slot, stop requests
// out to ffmpeg, and its log kept for the verdict.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/convert/ffmpeg_output.h"

class SlotLink;

// ffmpeg beside this program first, then on PATH; empty when there is none.
std::string FindFfmpeg();

// SIGTERM, SIGINT and SIGHUP end the run (forwarded to ffmpeg) instead of
// killing this process outright; SIGPIPE is ignored.
void InstallStopSignalHandlers();

struct RunSetup {
    std::string ffmpegPath;
    std::vector<std::string> args; // after the program name
    SlotLink* slot = nullptr;       // may be null: no progress channel
    bool printProgress = false;     // a percentage line on standard error
    // Called on a thread of its own when ffmpeg's listing gave no duration;
    // returns the source's duration in seconds (negative when unknown).
    std::function<double()> measureDuration;
};

struct RunOutcome {
    bool started = false;
    std::string startError;
    bool exited = false;        // ended by exit (not by a signal)
    int exitCode = -1;
    int termSignal = 0;
    bool stopRequested = false; // the program set the stop byte
    int endSignal = 0;          // this process was told to end by that signal
    double duration = -1.0;
    FfmpegLog log;
    ProgressReport last;
};

RunOutcome RunFfmpeg(const RunSetup& setup);
