#include "jobs/scheduler.h"

#include <unistd.h>

#include "converter/cmdline.h"
#include "converter/convrun.h"
#include "converter/profiles.h"
#include "converter/progress.h"
#include "converter/sizetext.h"
#include "jobs/job.h"
#include "net/worker.h"
#include "util/files.h"
#include "util/textutil.h"

std::atomic<bool> Busy{false};
std::atomic<bool> JobListChanged{false};
std::atomic<int16_t> ActiveCount{0};
std::atomic<int16_t> WorkerCount{0};
int32_t RunQueued = 0;
int32_t RunFinished = 0;
bool StopAllMark = false;
bool ShutdownPending = false;

namespace {

std::recursive_mutex gJobLock;
std::atomic<bool> gJobLockOpen{false};
// Locks this thread really holds; after the lock is closed, acquiring does
// nothing, but a lock taken before the close must still be released.
thread_local int tLocksHeld = 0;

SchedulerFrontEnd* gFront = nullptr;
JobStore* gStore = nullptr;
AppSettings* gLive = nullptr;
AppSettings gSnapshot;
std::string gConverterPath;
// The first Pending job of the run, or null when none is left. No entry
// before it is Pending. Kept as the job itself, not its index: entries may be
// removed (and the rest renumbered) during a run, but never a Pending one,
// whose worker still uses it.
ConversionJob* gFirstPending = nullptr;
// Workers of the current run whose completion has not run yet (GUI thread).
// The run ends with the last completion: two workers that end together must
// not both see zero live workers and end the run twice.
int gRunOutstanding = 0;

// A job starts only when none of this many jobs before it still waits.
constexpr int kEarlierPendingWindow = 50;

bool IsStoppable(int16_t status) {
    return (status >= Starting && status <= Converting) || status == Pending;
}

void WakeWorker(ConversionJob* job) {
    job->wakeSeq.fetch_add(1);
    job->wakeSeq.notify_one();
}

// Wakes the waiting workers that may now start: as many as there are free
// conversion places, in list order. Called under JobLock whenever a place
// frees up, a job leaves Pending or the limit changes, so that waiting
// workers need no polling.
void WakeEligibleWorkers() {
    if (gStore == nullptr || gFirstPending == nullptr) return;
    int count = JobCount(gStore);
    int first = gFirstPending->position;
    while (first < count && JobAt(gStore, first)->status.load() != Pending) ++first;
    gFirstPending = first < count ? JobAt(gStore, first) : nullptr;
    int capacity = gLive->maxConversions - ActiveCount.load();
    int lastPending = -kEarlierPendingWindow - 1;
    for (int i = first; i < count && capacity > 0; ++i) {
        ConversionJob* job = JobAt(gStore, i);
        if (job->status.load() != Pending) continue;
        if (i - lastPending > kEarlierPendingWindow) {
            WakeWorker(job);
            --capacity;
        }
        lastPending = i;
    }
}

void SetBusyOnGui(void* busy) {
    bool value = busy != nullptr;
    Busy = value;
    if (gFront != nullptr && !Closing) gFront->SetBusyState(value);
}

void ShowJobProgressOnGui(void* job) { ShowJobProgress(static_cast<ConversionJob*>(job)); }

// Under JobLock. The status changes only while the job can still be
// stopped: a worker that has just set the final status keeps it.
void RequestStopLocked(ConversionJob* job) {
    int16_t status = job->status.load();
    if (!IsStoppable(status)) return;
    ProgressRequestStop(job->progressSlot);
    job->stopRequested = true;
    // The worker may move Starting on to Converting meanwhile: try again.
    while (IsStoppable(status) && !job->status.compare_exchange_weak(status, Cancelled)) {
    }
    WakeWorker(job);
    if (gFront != nullptr && !Closing) gFront->ShowJobRow(job->position);
}

// Starting or Converting becomes expected; Cancelled (a stop) stays.
void SetConverting(ConversionJob* job) {
    int16_t status = job->status.load();
    while (status == Starting || status == Converting) {
        if (job->status.compare_exchange_weak(status, Converting)) return;
    }
}

void ConverterTickThunk(void* job) { ConverterTick(static_cast<ConversionJob*>(job)); }

} // namespace

void JobLockCreate() { gJobLockOpen = true; }
void JobLockClose() { gJobLockOpen = false; }

void JobLockAcquire() {
    if (!gJobLockOpen) return;
    gJobLock.lock();
    ++tLocksHeld;
}

void JobLockRelease() {
    if (tLocksHeld == 0) return;
    --tLocksHeld;
    gJobLock.unlock();
}

void SchedulerInit(SchedulerFrontEnd* frontEnd, JobStore* store, AppSettings* live,
                   const std::string& converterPath) {
    gFront = frontEnd;
    gStore = store;
    gLive = live;
    gConverterPath = converterPath;
    ActiveCount = 0;
    WorkerCount = 0;
    RunQueued = 0;
    RunFinished = 0;
    StopAllMark = false;
    ShutdownPending = false;
    Busy = false;
    gRunOutstanding = 0;
    gFirstPending = nullptr;
}

AppSettings& BatchSnapshot() { return gSnapshot; }

int CountLiveWorkers() {
    JobLockGuard lock;
    return WorkerCount.load();
}

bool HasEarlierPendingJob(int position) {
    int last = position - kEarlierPendingWindow;
    for (int i = position - 1; i >= 0 && i >= last; --i) {
        if (JobAt(gStore, i)->status.load() == Pending) return true;
    }
    return false;
}

void SchedulerSettingsChanged() {
    JobLockGuard lock;
    WakeEligibleWorkers();
}

void ConvertCommand() {
    int cancelled = 0;
    int n = CountReady(gStore, &cancelled);
    if (n == 0 && cancelled > 0 && gFront->Ask(RunQuestion::RetryCancelled, cancelled)) {
        n = RequeueCancelled(gStore);
        gFront->JobsRequeued();
    }
    if (n == 0) gFront->AddVideosByDialog();
    StartConversions();
}

bool StartConversions() {
    // One run at a time: the callers ignore the command while busy, and a
    // second run would reset the counters of the first.
    if (gRunOutstanding > 0) return true;
    int n = CountReady(gStore, nullptr);
    if (n <= 0) return true;
    if (gLive->shutdownAfter && !gFront->Ask(RunQuestion::ShutdownAfter, n)) return false;
    RunQueued = n;
    RunFinished = 0;
    StopAllMark = false;
    ShutdownPending = false;
    if (!gFront->ConfirmRun(n)) return true;
    gFront->SaveSettings();
    SettingsCopyConversion(gSnapshot, *gLive);
    gFront->RunStarting();

    // Everything a worker would set at its start is set here, on this
    // thread: a stop that arrives before the worker runs is then never
    // undone, and the list never reads a name while a worker writes it.
    int started = 0;
    int count = JobCount(gStore);
    {
        JobLockGuard lock;
        gFirstPending = nullptr;
        for (int i = 0; i < count; ++i) {
            ConversionJob* job = JobAt(gStore, i);
            if (job->status.load() != Ready) continue;
            job->stopRequested = false;
            job->progressSlot = -1;
            job->profileId = gLive->profileId;
            job->displayName = JobNameFromSource(job->sourcePath);
            job->status = Pending;
            if (gFirstPending == nullptr) gFirstPending = job;
        }
    }
    // Threads are made without the lock: each new worker takes it at once to
    // look at its place, and thousands of them must not pile up behind it.
    // Every job of the run is Pending already, so the order holds.
    bool anyFailed = false;
    for (int i = 0; i < count; ++i) {
        ConversionJob* job = JobAt(gStore, i);
        if (job->status.load() != Pending || job->stopRequested) continue;
        // Counted before the thread exists, so that an early finisher
        // cannot see zero live workers while others are still starting.
        ++WorkerCount;
        if (StartWorkerThread(&job->thread, 0, true, ConversionWorker, job, OnWorkerFinished)) {
            ++started;
            continue;
        }
        // No worker: the job must not stay Pending, or every later job would
        // wait for it for ever. It stays for the next run.
        JobLockGuard lock;
        --WorkerCount;
        job->thread.exited = true;
        job->status = Ready;
        --RunQueued;
        anyFailed = true;
    }
    gRunOutstanding = started;
    if (anyFailed) {
        // The jobs behind one that could not start may go now.
        JobLockGuard lock;
        WakeEligibleWorkers();
    }
    if (started > 0) {
        SetBusyOnGui(reinterpret_cast<void*>(1));
    } else {
        gFront->RunEnded();
        gFront->UpdateCommandStates();
    }
    return true;
}

void StopConversions(bool all) {
    if (!all) {
        int index = gFront->FocusedJob();
        if (index < 0 || index >= JobCount(gStore)) return;
        ConversionJob* job = JobAt(gStore, index);
        if (!IsStoppable(job->status.load())) return;
        if (!gFront->Ask(RunQuestion::StopOne, 1)) return;
        // The job may have ended while the question was open.
        JobLockGuard lock;
        RequestStopLocked(job);
        WakeEligibleWorkers();
        return;
    }
    int live = CountLiveWorkers();
    if (live == 0) return;
    if (gFront->Ask(RunQuestion::StopAll, live)) StopAllConversionsNow();
    StopAllMark = true;
}

void StopAllConversionsNow() {
    StopAllMark = true;
    if (gStore == nullptr) return;
    JobLockGuard lock;
    int count = JobCount(gStore);
    for (int i = 0; i < count; ++i) RequestStopLocked(JobAt(gStore, i));
    WakeEligibleWorkers();
}

void ConversionWorker(WorkerThread* worker) {
    auto* job = static_cast<ConversionJob*>(worker->data);

    // Wait for a conversion place. The decision, the count and the slot are
    // taken in one locked section so no more than maxConversions pass; the
    // worker sleeps until someone wakes it, never on a timer.
    for (;;) {
        uint32_t seen = job->wakeSeq.load();
        // Stopped while waiting: the stop has already made the job Cancelled,
        // redrawn it and let the jobs behind it move, so the worker just
        // goes, without the lock: Stop All wakes every waiting worker at
        // once, and tens of thousands must not queue on it.
        if (job->stopRequested) {
            --WorkerCount;
            return;
        }
        bool leave = false;
        {
            JobLockGuard lock;
            if (!job->stopRequested && ActiveCount.load() < gLive->maxConversions &&
                !HasEarlierPendingJob(job->position)) {
                leave = true;
                ++ActiveCount;
                job->progressSlot = ProgressAllocSlot();
                job->status = Starting;
                JobListChanged = true;
                job->subStatus = 0;
                job->progressBytes = 0;
                job->outputSize = 0;
                job->startTick = TickCount();
                WakeEligibleWorkers();
            }
        }
        if (leave) break;
        job->wakeSeq.wait(seen);
    }
    RunOnGuiThread(ShowJobProgressOnGui, job);
    if (!job->stopRequested) ConvertJob(job);

    JobLockGuard lock;
    --ActiveCount;
    --WorkerCount;
    WakeEligibleWorkers();
}

void ConvertJob(ConversionJob* job) {
    std::string folder;
    AppSettings snapshot;
    {
        JobLockGuard lock;
        folder = gLive->destFolder;
        snapshot = gSnapshot;
        // A retried job still names the file of its stopped run: it is
        // replaced now, so delete it instead of forgetting it on disk.
        if (!job->outputPath.empty()) {
            DeletePartialOutput(gStore, *job);
            job->outputPath.clear();
        }
    }
    SetConverting(job);
    RunOnGuiThread(ShowJobProgressOnGui, job);

    // Stopped while its row was being drawn: no converter is started, and
    // the job stays Cancelled with no output.
    if (job->stopRequested) {
        {
            JobLockGuard lock;
            job->outputPath.clear();
        }
        RunOnGuiThread(ShowJobProgressOnGui, job);
        return;
    }

    // The destination may have been removed since the run started.
    int suffix = -1;
    std::string reason;
    bool haveFolder = CreateFolderTree(folder) != 0;
    if (!haveFolder) reason = "the destination folder cannot be created: " + folder;
    {
        JobLockGuard lock;
        job->errorText.clear();
        std::string output;
        if (haveFolder) {
            suffix = OutputPathForProfile(output, folder, job->displayName, job->profileId, gStore);
            if (suffix < 0) reason = "the output path would be too long in " + folder;
        }
        // Never left naming an earlier run's file.
        job->outputPath = output;
    }
    int result = suffix < 0 ? kRunNotStarted
                            : ConverterRun(gConverterPath, job->sourcePath, job->outputPath, *job,
                                           snapshot, ConverterTickThunk, job, &reason);
    {
        // The frame-rate rule may have changed the run's options: later jobs use the same.
        JobLockGuard lock;
        gSnapshot.frameRate = snapshot.frameRate;
        if (result != 0) job->errorText = reason;
    }
    // A failed run is an error even when the user stopped it: a converter
    // that could not finish its file on the stop must not look like a clean
    // stop (the failed run has already lost its partial output). A stop that
    // ended with a finished file is Cancelled; that file stays until the
    // clean-up.
    if (result != 0) {
        job->status = ConvertError;
    } else if (job->stopRequested) {
        job->status = Cancelled;
    } else {
        job->outputSize = FileSize64(job->outputPath.c_str());
        job->status = Done;
    }
    RunOnGuiThread(ShowJobProgressOnGui, job);
}

void ConverterTick(ConversionJob* job) {
    // A stopped job shows "Cancelled" until this slice; its final status is
    // set when the converter has ended.
    job->status = Converting;
    RunOnGuiThread(ShowJobProgressOnGui, job);
}

namespace {

// Status panel 1 and the bar. Under JobLock, while busy.
void ShowRunProgressLocked() {
    double average = 0.0;
    int inUse = ProgressAverage(&average);
    double done = inUse * average + RunFinished * 100.0;
    double whole = RunQueued * 100.0;
    int percent = whole != 0.0 ? static_cast<int>(done * 100.0 / whole) : 0;
    gFront->ShowRunProgress(ActiveCount.load(), WorkerCount.load(), percent);
}

} // namespace

void ShowJobProgress(ConversionJob* job) {
    if (Closing || gFront == nullptr) return;
    JobLockGuard lock;
    if (Busy) ShowRunProgressLocked();
    gFront->ShowJobRow(job->position);
}

void OnWorkerFinished(WorkerThread* worker) {
    auto* job = static_cast<ConversionJob*>(worker->data);
    {
        JobLockGuard lock;
        ProgressReleaseSlot(job->progressSlot);
        job->progressSlot = -1;
    }
    ++RunFinished;
    bool last = --gRunOutstanding == 0;
    if (gStore == nullptr || Closing) return;
    {
        // The finished job now counts whole: the last one shows 100 %.
        JobLockGuard lock;
        if (Busy) ShowRunProgressLocked();
    }
    if (last) {
        SetBusyOnGui(nullptr);
        {
            JobLockGuard lock;
            ProgressResetSlots();
        }
        gFront->RunEnded();
        if (gLive->shutdownAfter && !StopAllMark) {
            ShutdownPending = true;
            gFront->CloseMainWindow();
        } else if (gLive->exitAfter && !StopAllMark) {
            gFront->CloseMainWindow();
        }
    }
    gFront->UpdateCommandStates();
}

void WaitForAllWorkersExited(JobStore* store) {
    int count = JobCount(store);
    for (int i = 0; i < count; ++i) {
        WorkerThread& thread = JobAt(store, i)->thread;
        // Records never started have nothing to wait for; started ones set
        // exited as their very last step (a failed start sets it at once).
        if (thread.routine == nullptr) continue;
        while (!thread.exited.load()) {
            // Exits wake the GUI thread's wait; elsewhere nothing signals
            // the flag itself, so look again shortly.
            if (IsGuiThread() && GuiCallWindowOpen()) GuiCallWait(10);
            else usleep(1000);
        }
    }
}

bool DeletePartialOutput(const JobStore* store, const ConversionJob& job) {
    if (job.outputPath.empty()) return false;
    // A later job may have been given the same name after this one failed.
    int count = JobCount(store);
    for (int i = 0; i < count; ++i) {
        const ConversionJob* other = JobAt(store, i);
        if (other != &job && other->status.load() == Done && other->outputPath == job.outputPath)
            return false;
    }
    return unlink(job.outputPath.c_str()) == 0;
}
