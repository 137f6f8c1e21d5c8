// One conversion or probe through the external converter.
#pragma once

#include <string>

#include "converter/process.h"

struct AppSettings;
struct ConversionJob;

// The converter's own exit codes that the program acts on.
constexpr int kConverterExitInvalidSource = -20; // probe: not a usable video or audio file
constexpr int kConverterExitAudioRefused = -25;  // the encoder refused the audio options

// Results of ConverterRun besides 0 and the converter's own exit code.
constexpr int kRunNoOutput = -1;      // output missing or empty after the run
constexpr int kRunNotStarted = -1000; // the converter could not be started

// Slice of the wait for a conversion (one status refresh each) and for a probe.
constexpr int kConvertPollMs = 1000;
constexpr int kProbePollMs = 10;

// Converts source into output with the snapshot's options, calling
// tick(data) after every wait slice. Returns 0 when the converter ended with
// 0 and left a non-empty output; kRunNotStarted when it could not be started
// (or its command could not be built): no file is touched; after -25 the
// command is run once more without the audio bitrate, channel and
// sample-rate options, and -25 is the result when that run cannot start;
// kRunNoOutput when the output is missing or empty; otherwise the
// converter's exit code (kExitBySignal - N when signal N killed it). Once a
// run was started, any result but 0 deletes the output file.
// With reason, the converter's messages are kept instead of reaching our
// stderr, and a failed run leaves there one line saying why.
int ConverterRun(const std::string& converterPath, const std::string& sourcePath,
                 const std::string& outputPath, ConversionJob& job, AppSettings& snapshot,
                 ProcessCallback tick, void* data, std::string* reason = nullptr);

enum class ProbeResult {
    Accepted, // job.duration is set
    Invalid,  // the converter says the source is not usable: the caller shows "%s Invalid video"
    Failed,   // no slot, or the converter could not start or crashed: rejected silently
};

// Measures a source through the converter's probe command. Takes a progress
// slot for the run (job.progressSlot) and gives it back in every case
// (progressSlot is -1 afterwards). With reason, the converter's stderr is
// kept instead of passed on, and reason receives its last line that says
// something when the result is not Accepted ("" otherwise).
ProbeResult ConverterProbe(const std::string& converterPath, const std::string& sourcePath,
                           ConversionJob& job, std::string* reason = nullptr);
