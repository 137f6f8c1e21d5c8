#include "converter/convrun.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <unistd.h>

#include "converter/cmdline.h"
#include "converter/progress.h"
#include "converter/sizetext.h"
#include "jobs/job.h"

int ConverterRun(const std::string& converterPath, const std::string& sourcePath,
                 const std::string& outputPath, ConversionJob& job, AppSettings& snapshot,
                 ProcessCallback tick, void* data) {
    CommandLine cmd;
    if (!CmdBuildConvert(cmd, converterPath, sourcePath, outputPath, job, snapshot, false))
        return kRunNotStarted;
    int exitCode = 0;
    if (!ProcessRunPolled(cmd, &exitCode, kConvertPollMs, tick, data)) return kRunNotStarted;

    int result = exitCode;
    if (exitCode == kConverterExitAudioRefused) {
        CommandLine retry;
        bool started =
            CmdBuildConvert(retry, converterPath, sourcePath, outputPath, job, snapshot, true) &&
            ProcessRunPolled(retry, &exitCode, kConvertPollMs, tick, data);
        result = started ? exitCode : kConverterExitAudioRefused;
    }
    if (FileSize64(outputPath.c_str()) == 0) result = kRunNoOutput;
    // The first run was started, so even a retry that could not start may
    // have left a partial file behind.
    if (result != 0 && !outputPath.empty()) unlink(outputPath.c_str());
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
