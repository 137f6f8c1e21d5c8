// movenna-convert: probes a source in-process and converts it by running
// ffmpeg, reporting through the program's shared progress slot.
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/convert/ffmpeg_run.h"
#include "tools/convert/options.h"
#include "tools/convert/probe.h"
#include "tools/convert/slot.h"
#include "tools/convert/translate.h"

namespace {

// What the program relies on: -20 rejects a source, -25 asks for a retry
// without the audio options. The rest only mean "failed".
constexpr int kExitInvalidSource = -20;
constexpr int kExitAudioRefused = -25;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoFfmpeg = 127;
constexpr size_t kErrorLinesShown = 12;

void PrintUsage(FILE* out) {
    std::fputs(
        "usage: movenna-convert [-y] [-an] [-vn] -i SOURCE [-brmap DIGITS -brind N]\n"
        "                       [-vcodec X [-vtag T]] [-acodec Y] [-f F] [-s WxH] [-r RATE]\n"
        "                       [-b Nkb | -sameq] [-ab N.Nkb] [-ac N] [-ar N] [-vol N]\n"
        "                       [-aspect A] [--dry-run] [ffmpeg options] OUTPUT\n"
        "       movenna-convert -i SOURCE          (probe: prints the duration)\n"
        "       movenna-convert --help\n",
        out);
}

// Started by the program (it gave us a progress slot): the program stops us
// through the slot, so the terminal's Ctrl+C and Ctrl+\ are for it alone,
// and we must not outlive it. Its death ends the run as SIGTERM does.
void FollowTheProgram() {
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

off_t FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
}

int RunProbe(const ConvertRequest& request, SlotLink* slot) {
    const SourceInfo info = ProbeSource(request.source);
    if (info.libraryMissing) {
        // Not the source's fault: do not have it called invalid.
        std::fprintf(stderr, "movenna-convert: %s\n", info.error.c_str());
        return kExitFailed;
    }
    if (!info.Usable()) {
        // The program names the source itself and shows our reason with it.
        if (request.HasSlot())
            std::fprintf(stderr, "%s\n", info.error.c_str());
        else
            std::fprintf(stderr, "movenna-convert: %s: not a usable video or audio file (%s)\n",
                         request.source.c_str(), info.error.c_str());
        return kExitInvalidSource;
    }
    if (slot)
        slot->SetDuration(info.duration);
    else
        std::printf("duration=%.6f\n", info.duration);
    return 0;
}

int RunConversion(const ConvertRequest& request, SlotLink* slot) {
    const std::vector<std::string> args = TranslateForFfmpeg(request);
    const std::string ffmpeg = FindFfmpeg();
    if (request.dryRun) {
        std::string line = ShellQuote(ffmpeg.empty() ? "ffmpeg" : ffmpeg);
        for (const std::string& arg : args) line += " " + ShellQuote(arg);
        std::printf("%s\n", line.c_str());
        return 0;
    }
    if (ffmpeg.empty()) {
        std::fputs("movenna-convert: ffmpeg was not found beside this program nor on PATH; "
                   "install ffmpeg to convert\n",
                   stderr);
        return kExitNoFfmpeg;
    }
    if (slot) {
        slot->SetPercent(0.0);
        // Stopped before it began: nothing to finalise.
        if (slot->StopRequested()) return kExitFailed;
    }

    RunSetup setup;
    setup.ffmpegPath = ffmpeg;
    setup.args = args;
    setup.slot = slot;
    setup.printProgress = !slot && isatty(STDERR_FILENO);
    StreamKinds kinds;
    setup.measureDuration = [&request, &kinds]() {
        const SourceInfo info = ProbeSource(request.source);
        kinds = info.streamKinds;
        return info.duration; // 0 or unknown: progress stays at 0
    };
    const RunOutcome outcome = RunFfmpeg(setup);
    if (!outcome.started) {
        std::fprintf(stderr, "movenna-convert: cannot run %s: %s\n", ffmpeg.c_str(),
                     outcome.startError.c_str());
        return kExitFailed;
    }

    auto printErrors = [&outcome]() {
        for (const std::string& line : outcome.log.ErrorLines(kErrorLinesShown))
            std::fprintf(stderr, "%s\n", line.c_str());
    };
    if (outcome.endSignal != 0) {
        std::fprintf(stderr, "movenna-convert: ended by signal %d\n", outcome.endSignal);
        return 128 + outcome.endSignal;
    }
    if (outcome.stopRequested) {
        // "q" gives exit 0, SIGTERM 255; both leave a finished file.
        const bool finalised =
            outcome.exited && (outcome.exitCode == 0 || outcome.exitCode == 255);
        return finalised && FileSize(request.output) > 0 ? 0 : kExitFailed;
    }
    if (outcome.exited && outcome.exitCode == 0) {
        if (slot) slot->SetPercent(100.0);
        return 0;
    }
    if (outcome.exited)
        std::fprintf(stderr, "movenna-convert: ffmpeg failed (exit %d):\n", outcome.exitCode);
    else
        std::fprintf(stderr, "movenna-convert: ffmpeg ended by signal %d:\n", outcome.termSignal);
    printErrors();
    if (outcome.log.AudioRefused(kinds)) return kExitAudioRefused;
    return kExitFailed;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        PrintUsage(stdout);
        return 0;
    }
    ConvertRequest request;
    std::string error;
    if (!ParseConvertArgs(args, request, error)) {
        std::fprintf(stderr, "movenna-convert: %s\n", error.c_str());
        PrintUsage(stderr);
        return kExitUsage;
    }
    InstallStopSignalHandlers();
    if (request.HasSlot()) FollowTheProgram();
    // A missing channel or a bad index only costs the progress display.
    std::unique_ptr<SlotLink> slot;
    if (request.HasSlot()) slot = SlotLink::Open(request.channelName, request.slotIndex);
    if (request.IsProbe()) return RunProbe(request, slot.get());
    return RunConversion(request, slot.get());
}
