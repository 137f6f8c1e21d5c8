#include "converter/convrun.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <unistd.h>

#include "converter/cmdline.h"
#include "converter/progress.h"
#include "converter/sizetext.h"
#include "jobs/job.h"

namespace {

// One line for the user: the converter's last words, or what we saw of it.
std::string FailureReason(int result, const std::string& converterPath, const std::string& messages) {
    if (result == kRunNotStarted) return "the converter could not be started: " + converterPath;
    std::string line = LastMeaningfulLine(messages);
    if (!line.empty()) return line;
    if (result == kRunNoOutput) return "the converter wrote no output";
    if (result <= kExitBySignal) return "the converter was ended by signal " + std::to_string(kExitBySignal - result);
    return "the converter ended with code " + std::to_string(result);
}

} // namespace

int ConverterRun(const std::string& converterPath, const std::string& sourcePath,
                 const std::string& outputPath, ConversionJob& job, AppSettings& snapshot,
                 ProcessCallback tick, void* data, std::string* reason) {
    if (reason) reason->clear();
    std::string messages;
    std::string* keep = reason ? &messages : nullptr;
    int result = kRunNotStarted;
    CommandLine cmd;
    int exitCode = 0;
    if (CmdBuildConvert(cmd, converterPath, sourcePath, outputPath, job, snapshot, false) &&
        ProcessRunPolled(cmd, &exitCode, kConvertPollMs, tick, data, keep)) {
        result = exitCode;
        if (exitCode == kConverterExitAudioRefused) {
            CommandLine retry;
            bool started =
                CmdBuildConvert(retry, converterPath, sourcePath, outputPath, job, snapshot, true) &&
                ProcessRunPolled(retry, &exitCode, kConvertPollMs, tick, data, keep);
            result = started ? exitCode : kConverterExitAudioRefused;
        }
        if (FileSize64(outputPath.c_str()) == 0) result = kRunNoOutput;
        // The first run was started, so even a retry that could not start may
        // have left a partial file behind.
        if (result != 0 && !outputPath.empty()) unlink(outputPath.c_str());
    }
    if (reason && result != 0) *reason = FailureReason(result, converterPath, messages);
    return result;
}

namespace {

ProbeResult ProbeWithSlot(const std::string& converterPath, const std::string& sourcePath,
                          ConversionJob& job, std::string* errorText) {
    CommandLine cmd;
    if (!CmdBuildProbe(cmd, converterPath, sourcePath, job)) return ProbeResult::Failed;
    int exitCode = 0;
    if (!ProcessRunPolled(cmd, &exitCode, kProbePollMs, nullptr, nullptr, errorText))
        return ProbeResult::Failed;
    if (exitCode == kConverterExitInvalidSource) return ProbeResult::Invalid;
    // A crashed converter measured nothing: the cleared slot's 0 is no duration.
    if (exitCode <= kExitBySignal) return ProbeResult::Failed;
    double seconds = 0.0;
    if (!ProgressReadDuration(job.progressSlot, &seconds)) return ProbeResult::Failed;
    if (std::isnan(seconds) || seconds < 0.0) return ProbeResult::Invalid;
    job.duration = seconds >= static_cast<double>(UINT32_MAX) ? UINT32_MAX
                                                               : static_cast<uint32_t>(seconds);
    return ProbeResult::Accepted;
}

} // namespace

ProbeResult ConverterProbe(const std::string& converterPath, const std::string& sourcePath,
                           ConversionJob& job, std::string* reason) {
    if (reason) reason->clear();
    job.progressSlot = ProgressAllocSlot();
    // Without a slot the duration could not be read back: no run at all.
    if (job.progressSlot < 0) {
        job.progressSlot = -1;
        return ProbeResult::Failed;
    }
    std::string errorText;
    ProbeResult result = ProbeWithSlot(converterPath, sourcePath, job, reason ? &errorText : nullptr);
    ProgressReleaseSlot(job.progressSlot);
    job.progressSlot = -1;
    if (reason && result != ProbeResult::Accepted) *reason = LastMeaningfulLine(errorText);
    return result;
}
