// The conversion scheduler: one worker thread per queued job, at most
// maxConversions converters at once, jobs started in list order. It talks to
// its front end (the window, or the console tool) through SchedulerFrontEnd.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

struct AppSettings;
struct ConversionJob;
struct JobStore;
struct WorkerThread;

// The questions the scheduler asks; each counts as confirmed only on OK.
enum class RunQuestion {
    RetryCancelled, // no Ready job, some Cancelled: try them again?
    ShutdownAfter,  // shut the computer down after this run?
    StopOne,        // stop the focused conversion?
    StopAll,        // stop every conversion?
};

// What the scheduler needs of the window. Every call comes on the GUI thread.
class SchedulerFrontEnd {
public:
    virtual ~SchedulerFrontEnd() = default;
    virtual void SetBusyState(bool busy) = 0;
    // Status panel 1 and the progress bar during a run.
    virtual void ShowRunProgress(int active, int workers, int percent) = 0;
    // Redraw one job's row.
    virtual void ShowJobRow(int position) = 0;
    virtual void UpdateCommandStates() = 0;
    virtual bool Ask(RunQuestion question, int count) = 0;
    // The settings dialog that confirms a run of count jobs; false cancels it.
    virtual bool ConfirmRun(int count) = 0;
    // The settings were confirmed: save them and show them.
    virtual void SaveSettings() = 0;
    // Show the progress bar at 0 and lock the destination and profile controls.
    virtual void RunStarting() = 0;
    // Unlock them again after the last worker.
    virtual void RunEnded() = 0;
    // After cancelled jobs were given back: redraw the list, focus the last.
    virtual void JobsRequeued() = 0;
    virtual bool AddVideosByDialog() = 0;
    // The job the stop command acts on, or -1.
    virtual int FocusedJob() = 0;
    // Close the program at the end of a run (shutdownAfter / exitAfter).
    virtual void CloseMainWindow() = 0;
};

// Program-wide run state.
extern std::atomic<bool> Busy;
extern std::atomic<bool> JobListChanged;
extern std::atomic<int16_t> ActiveCount;
extern std::atomic<int16_t> WorkerCount;
extern int32_t RunQueued;
extern int32_t RunFinished;
extern bool StopAllMark;
extern bool ShutdownPending;

// The lock that serialises the counters, the slot choice, output paths and
// removals from the job list. After JobLockClose, locking does nothing.
void JobLockCreate();
void JobLockClose();
void JobLockAcquire();
void JobLockRelease();
struct JobLockGuard {
    JobLockGuard() { JobLockAcquire(); }
    ~JobLockGuard() { JobLockRelease(); }
    JobLockGuard(const JobLockGuard&) = delete;
    JobLockGuard& operator=(const JobLockGuard&) = delete;
};

// Ties the scheduler to its data and front end; resets the counters.
// The live settings are read by workers under JobLock: the front end changes
// them under JobLock too while a run is in progress.
void SchedulerInit(SchedulerFrontEnd* frontEnd, JobStore* store, AppSettings* live,
                   const std::string& converterPath);
// The batch snapshot the converter options of a run are built from.
AppSettings& BatchSnapshot();

void ConvertCommand();
bool StartConversions();
// Stop the focused job (all false) or every job (all true), after asking.
void StopConversions(bool all);
// The same without questions (Ctrl+C in the console tool, closing the window).
void StopAllConversionsNow();
int CountLiveWorkers();
bool HasEarlierPendingJob(int position);
// The live maxConversions may have risen: let waiting workers look again.
void SchedulerSettingsChanged();

// Before the job list is released: every worker thread has really ended.
void WaitForAllWorkersExited(JobStore* store);
// Deletes a stopped or failed job's output, unless a Done job owns that path.
bool DeletePartialOutput(const JobStore* store, const ConversionJob& job);

void ConversionWorker(WorkerThread* worker);
void ConvertJob(ConversionJob* job);
void ConverterTick(ConversionJob* job);
void ShowJobProgress(ConversionJob* job);
void OnWorkerFinished(WorkerThread* worker);
