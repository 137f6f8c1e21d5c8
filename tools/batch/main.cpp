// movenna-batch: converts files and folders from a terminal with the same
// core, settings and converter as the window.
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/adding.h"
#include "app/paths.h"
#include "converter/profiles.h"
#include "converter/progress.h"
#include "converter/progress_slot.h"
#include "jobs/job.h"
#include "jobs/scheduler.h"
#include "net/worker.h"
#include "settings/datafiles.h"
#include "tools/batch/batchfront.h"
#include "util/files.h"

namespace {

constexpr int kExitUsage = 2;

// The signals that ask us to stop: Ctrl+C, kill, a closed terminal, Ctrl+\.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// A stop signal this soon after the first is the same request sent twice:
// `timeout` and other supervisors signal the program and then its whole
// process group, microseconds apart, and a busy machine may stretch that a
// little. A person who sees the first Ctrl+C doing nothing takes longer than
// this to press it again.
constexpr int64_t kRepeatWindowMs = 500;

// The first stop signal received, 0 while none came.
volatile sig_atomic_t gInterrupted = 0;
// When it came (CLOCK_MONOTONIC, in milliseconds).
std::atomic<int64_t> gInterruptedAt{0};
static_assert(std::atomic<int64_t>::is_always_lock_free, "read and written in a signal handler");
// The progress channel's name, for a second signal to remove it on the way out.
char gChannelObject[64] = "";

int64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void OnInterrupt(int sig) {
    const int savedErrno = errno;
    const int64_t now = MonotonicMs();
    if (gInterrupted == 0) {
        gInterruptedAt.store(now);
        gInterrupted = sig;
        errno = savedErrno;
        return;
    }
    if (now - gInterruptedAt.load() < kRepeatWindowMs) {
        errno = savedErrno;
        return;
    }
    // Asked again while the converters wind down: quit now. They end with
    // us (they follow their parent's death), but the partial outputs stay.
    if (gChannelObject[0] != '\0') shm_unlink(gChannelObject);
    for (int stop : kStopSignals) signal(stop, SIG_DFL);
    raise(sig);
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int stop : kStopSignals) sigaddset(&action.sa_mask, stop);
    for (int stop : kStopSignals) sigaction(stop, &action, nullptr);
}

const char* const kUsage =
    "usage: movenna-batch [--profile ID] [--dest DIR] [--jobs N] [--converter PATH]\n"
    "                     [--data-dir DIR] FILE|FOLDER...\n"
    "       movenna-batch --list-profiles\n"
    "       movenna-batch --history [--data-dir DIR]\n"
    "\n"
    "Converts every file named (folders are searched at every depth for video\n"
    "and audio files) with the settings of the Movenna window.\n"
    "  --profile ID     output profile (see --list-profiles), with its defaults\n"
    "  --dest DIR       destination folder (created when missing)\n"
    "  --jobs N         conversions at once, 1 to 20\n"
    "  --converter PATH converter program (default: movenna-convert beside this one)\n"
    "  --data-dir DIR   folder of settings.dat and history.dat (read only)\n"
    "\n"
    "Exit status: 0 when every file was converted; 1 when a job did not end\n"
    "as converted or a file or folder named could not be added (even if every\n"
    "job that was added converted), or --history could not read the history\n"
    "file whole; 2 for a usage error; 128 plus the signal's number when stopped\n"
    "by SIGINT (Ctrl+C: 130), SIGTERM, SIGHUP or SIGQUIT. A stop ends every\n"
    "conversion, removes the unfinished outputs and still prints the summary;\n"
    "a second Ctrl+C, half a second or more after the first, quits at once and\n"
    "leaves the unfinished outputs behind.\n";

int UsageError(const char* format, const char* what) {
    fprintf(stderr, "movenna-batch: ");
    fprintf(stderr, format, what);
    fprintf(stderr, "\nTry 'movenna-batch --help' for more information.\n");
    return kExitUsage;
}

bool ParseInt(const char* text, int lo, int hi, int* value) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo || v > hi) return false;
    *value = static_cast<int>(v);
    return true;
}

int ListProfiles() {
    for (int row = 0; row < kProfileCount; ++row) {
        const OutputProfile& p = kProfiles[row];
        printf("%d\t%d\t%s\t.%s\n", row, p.id, p.name, p.extension);
    }
    return 0;
}

std::string DataPath(const std::string& dataDir, const char* name) {
    if (dataDir.empty()) return DataFilePath(name);
    std::string path = dataDir;
    PathJoin(path, name);
    return path;
}

int PrintHistory(const std::string& path) {
    JobStore* store = JobStoreCreate();
    // Read only: a damaged file is neither copied aside nor repaired here.
    const HistoryReadResult read = HistoryRead(store, path);
    const int readError = errno;
    int status = 0;
    switch (read) {
    case HistoryReadResult::Missing:
        // Nothing converted yet is no error, but a mistyped folder should show.
        fprintf(stderr, "movenna-batch: no history file at %s\n", path.c_str());
        break;
    case HistoryReadResult::Whole:
        break;
    case HistoryReadResult::Damaged:
        fprintf(stderr, "movenna-batch: the history file %s is damaged; only the entries "
                        "before the damage are shown\n", path.c_str());
        status = 1;
        break;
    case HistoryReadResult::Foreign:
        fprintf(stderr, "movenna-batch: %s is not a history file\n", path.c_str());
        status = 1;
        break;
    case HistoryReadResult::Unreadable:
        fprintf(stderr, "movenna-batch: cannot read the history file %s: %s\n", path.c_str(),
                strerror(readError));
        status = 1;
        break;
    }
    std::string cell;
    for (int i = 0; i < JobCount(store); ++i) {
        ConversionJob* job = JobAt(store, i);
        for (int column = 0; column < kJobColumnCount; ++column) {
            JobCellText(*job, column, cell);
            printf(column == 0 ? "%s" : "\t%s", cell.c_str());
        }
        printf("\n");
    }
    JobStoreRelease(store);
    return status;
}

// Any file or folder that could not be added makes the exit status 1.
bool gAnyRefused = false;

// True when a file can be made in folder (root included: /proc says no).
bool FolderWritable(const std::string& folder, int* err) {
    std::string probe = folder;
    if (!PathJoin(probe, ".movenna-batch-XXXXXX")) {
        *err = ENAMETOOLONG;
        return false;
    }
    int fd = mkstemp(probe.data());
    if (fd < 0) {
        *err = errno;
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

void ReportRefusal(const std::string& path, AddOutcome outcome, const std::string& reason) {
    // After a stop request a failed probe says nothing about the file: its
    // converter may have been ended by the same signal.
    if (gInterrupted != 0) return;
    if (outcome != AddOutcome::Added) gAnyRefused = true;
    switch (outcome) {
    case AddOutcome::Added:
        break;
    case AddOutcome::InvalidVideo:
        if (reason.empty())
            fprintf(stderr, "%s Invalid video\n", path.c_str());
        else
            fprintf(stderr, "%s Invalid video (%s)\n", path.c_str(), reason.c_str());
        break;
    case AddOutcome::Refused:
        fprintf(stderr, "%s: could not be probed (is the converter missing?)\n", path.c_str());
        if (!reason.empty()) fprintf(stderr, "  %s\n", reason.c_str());
        break;
    case AddOutcome::PathTooLong:
        fprintf(stderr, "%s: path too long\n", path.c_str());
        break;
    }
}

} // namespace

int main(int argc, char** argv) {
    int profileId = -1;
    int jobs = 0;
    std::string dest;
    std::string converter;
    std::string dataDir;
    bool history = false;
    std::vector<std::string> inputs;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* option) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)option;
            return argv[++i];
        };
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            inputs.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--list-profiles") {
            return ListProfiles();
        } else if (arg == "--history") {
            history = true;
        } else if (arg == "--profile") {
            const char* v = value("--profile");
            if (v == nullptr || !ParseInt(v, -32768, 32767, &profileId) ||
                kProfiles[ProfileIndexById(static_cast<int16_t>(profileId))].id != profileId)
                return UsageError("unknown profile id: %s (see --list-profiles)", v ? v : "");
        } else if (arg == "--jobs") {
            const char* v = value("--jobs");
            if (v == nullptr || !ParseInt(v, 1, 20, &jobs))
                return UsageError("--jobs takes a number from 1 to 20, not '%s'", v ? v : "");
        } else if (arg == "--dest" || arg == "--converter" || arg == "--data-dir") {
            const char* v = value(arg.c_str());
            if (v == nullptr || *v == '\0') return UsageError("%s needs a value", arg.c_str());
            (arg == "--dest" ? dest : arg == "--converter" ? converter : dataDir) = v;
        } else {
            return UsageError("unknown option: %s", arg.c_str());
        }
    }
    if (history) return PrintHistory(DataPath(dataDir, kHistoryFileName));
    if (inputs.empty()) return UsageError("%s", "no files or folders named");

    // The settings as the window would use them; this tool never writes them.
    AppSettings settings;
    SettingsReset(settings);
    SettingsLoad(settings, DataPath(dataDir, kSettingsFileName));
    if (profileId != -1) ProfileApplyDefaults(settings, ProfileIndexById(static_cast<int16_t>(profileId)));
    if (jobs != 0) settings.maxConversions = static_cast<int16_t>(jobs);
    if (settings.maxConversions < 1 || settings.maxConversions > 20) settings.maxConversions = 2;
    settings.shutdownAfter = 0;
    settings.exitAfter = 0;
    if (!dest.empty()) {
        settings.destFolder = dest;
    } else if (!FolderExists(settings.destFolder)) {
        settings.destFolder = DefaultDestFolder();
    }
    if (!CreateFolderTree(settings.destFolder)) {
        fprintf(stderr, "movenna-batch: cannot create the destination folder %s: %s\n",
                settings.destFolder.c_str(), strerror(errno));
        return 1;
    }
    int writeError = 0;
    if (!FolderWritable(settings.destFolder, &writeError)) {
        fprintf(stderr, "movenna-batch: cannot write to the destination folder %s: %s\n",
                settings.destFolder.c_str(), strerror(writeError));
        return 1;
    }
    if (converter.empty()) converter = ModuleFilePath("movenna-convert");

    if (!ProgressOpen()) {
        fprintf(stderr, "movenna-batch: cannot create the progress channel: %s\n", strerror(errno));
        return 1;
    }
    CreateGuiCallWindow(nullptr, nullptr);
    snprintf(gChannelObject, sizeof gChannelObject, "%s%s", kProgressNamePrefix,
             ProgressChannelName());
    CatchStopSignals();

    JobStore* store = JobStoreCreate();
    const auto add = [&](const std::string& path) {
        std::string reason;
        const AddOutcome outcome = AddVideoFile(store, settings, converter, path, &reason);
        ReportRefusal(path, outcome, reason);
    };
    for (const std::string& input : inputs) {
        if (gInterrupted) break;
        struct stat st{};
        if (stat(input.c_str(), &st) != 0) {
            fprintf(stderr, "%s: %s\n", input.c_str(), strerror(errno));
            gAnyRefused = true;
        } else if (S_ISDIR(st.st_mode)) {
            ScanFolderForVideos(
                input,
                [&](const std::string& path) {
                    add(path);
                    return gInterrupted == 0;
                },
                [](const std::string& folder, int err) {
                    fprintf(stderr, "%s: cannot be read: %s\n", folder.c_str(), strerror(err));
                    gAnyRefused = true;
                });
        } else {
            add(input);
        }
    }

    int status = 0;
    if (gInterrupted) {
        status = 128 + gInterrupted;
    } else if (JobCount(store) == 0) {
        fprintf(stderr, "movenna-batch: nothing to convert\n");
        status = 1;
    } else {
        BatchFrontEnd front(store, stderr);
        SchedulerInit(&front, store, &settings, converter);
        JobLockCreate();
        StartConversions();
        bool stopping = false;
        while (RunFinished < RunQueued) {
            GuiCallWait(100);
            if (gInterrupted && !stopping) {
                stopping = true;
                StopAllConversionsNow();
            }
            front.Refresh(false);
        }
        WaitForAllWorkersExited(store);
        front.Finish();
        for (int i = 0; i < JobCount(store); ++i) {
            ConversionJob* job = JobAt(store, i);
            if (stopping && job->status.load() != Done) DeletePartialOutput(store, *job);
            std::string text;
            StatusText(*job, text);
            // Only a file that is there: a stopped or failed job's is gone.
            const char* output = FileExists(job->outputPath) ? job->outputPath.c_str() : "";
            printf("%s\t%s\t%s\n", text.c_str(), job->sourcePath.c_str(), output);
            // The converter's reason, beside the summary that scripts read.
            if (job->status.load() == ConvertError && !job->errorText.empty())
                fprintf(stderr, "movenna-batch: %s: %s\n", job->sourcePath.c_str(), job->errorText.c_str());
            if (job->status.load() != Done) status = 1;
        }
        if (gAnyRefused && status == 0) status = 1;
        if (stopping) status = 128 + gInterrupted;
        JobLockClose();
    }
    JobStoreRelease(store);
    CloseGuiCallWindow();
    ProgressClose();
    return status;
}
