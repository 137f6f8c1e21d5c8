#include "jobs/scheduler.h"

#include <unistd.h>

#include <cstring>

#include "util/files.h"
#include "converter/cmdline.h"
#include "converter/convrun.h"
#include "converter/profiles.h"
#include "converter/progress.h"
#include "converter/sizetext.h"
#include "jobs/job.h"
#include "net/worker.h"
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
// No job before this index is Pending in the current run.
int gFirstPendingHint = 0;

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
    int capacity = gLive->maxConversions - ActiveCount.load();
    if (capacity <= 0 || gStore == nullptr) return;
    int count = JobCount(gStore);
    int lastPending = -kEarlierPendingWindow - 1;
    bool seenPending = false;
    for (int i = gFirstPendingHint; i < count && capacity > 0; ++i) {
        ConversionJob* job = JobAt(gStore, i);
        if (job->status.load() != Pending) continue;
        if (!seenPending) {
            gFirstPendingHint = i;
            seenPending = true;
        }
        if (i - lastPending > kEarlierPendingWindow) {
            WakeWorker(job);
            --capacity;
        }
        lastPending = i;
    }
    if (!seenPending && capacity > 0) gFirstPendingHint = count;
}

void SetBusyOnGui(void* busy) {
    bool value = busy != nullptr;
    Busy = value;
    if (gFront != nullptr && !Closing) gFront->SetBusyState(value);
}

void ShowJobProgressOnGui(void* job) { ShowJobProgress(static_cast<ConversionJob*>(job)); }

void RequestStop(ConversionJob* job) {
    JobLockGuard lock;
    ProgressRequestStop(job->progressSlot);
    job->stopRequested = true;
    job->status = Cancelled;
    WakeWorker(job);
    WakeEligibleWorkers();
}

void ConverterTickThunk(void* job) { ConverterTick(static_cast<ConversionJob*>(job)); }

std::string SourceBaseName(const std::string& path) {
    std::string name(kPathBufSize, '\0');
    PathSplit(path.c_str(), nullptr, nullptr, name.data(), nullptr);
    name.resize(strlen(name.c_str()));
    return name;
}

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
    {
        JobLockGuard lock;
        gFirstPendingHint = 0;
        int count = JobCount(gStore);
        for (int i = 0; i < count; ++i) {
            ConversionJob* job = JobAt(gStore, i);
            if (job->status.load() != Ready) continue;
            job->stopRequested = false;
            job->progressSlot = -1;
            job->profileId = gLive->profileId;
            job->displayName = SourceBaseName(job->sourcePath);
            job->status = Pending;
        }
        for (int i = 0; i < count; ++i) {
            ConversionJob* job = JobAt(gStore, i);
            if (job->status.load() != Pending) continue;
            // Counted before the thread exists, so that an early finisher
            // cannot see zero live workers while others are still starting.
            ++WorkerCount;
            if (StartWorkerThread(&job->thread, 0, true, ConversionWorker, job, OnWorkerFinished)) {
                ++started;
            } else {
                --WorkerCount;
                job->status = Ready;
                --RunQueued;
            }
        }
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
        if (gFront->Ask(RunQuestion::StopOne, 1)) RequestStop(job);
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
    for (int i = 0; i < count; ++i) {
        ConversionJob* job = JobAt(gStore, i);
        if (IsStoppable(job->status.load())) RequestStop(job);
    }
}

void ConversionWorker(WorkerThread* worker) {
    auto* job = static_cast<ConversionJob*>(worker->data);

    // Wait for a conversion place. The decision, the count and the slot are
    // taken in one locked section so no more than maxConversions pass; the
    // worker sleeps until someone wakes it, never on a timer.
    bool stopped = false;
    for (;;) {
        uint32_t seen = job->wakeSeq.load();
        bool leave = false;
        {
            JobLockGuard lock;
            if (job->stopRequested) {
                job->status = Cancelled;
                stopped = true;
                leave = true;
            } else if (ActiveCount.load() < gLive->maxConversions &&
                       !HasEarlierPendingJob(job->position)) {
                leave = true;
            }
            if (leave) {
                ++ActiveCount;
                if (!stopped) {
                    job->progressSlot = ProgressAllocSlot();
                    job->status = Starting;
                    JobListChanged = true;
                    job->subStatus = 0;
                    job->progressBytes = 0;
                    job->outputSize = 0;
                    job->startTick = TickCount();
                }
                WakeEligibleWorkers();
            }
        }
        if (leave) break;
        job->wakeSeq.wait(seen);
    }
    RunOnGuiThread(ShowJobProgressOnGui, job);
    if (!stopped && !job->stopRequested) ConvertJob(job);

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
    }
    if (!job->stopRequested) job->status = Converting;
    RunOnGuiThread(ShowJobProgressOnGui, job);

    // The destination may have been removed since the run started.
    int suffix = -1;
    if (CreateFolderTree(folder)) {
        JobLockGuard lock;
        std::string output;
        suffix = OutputPathForProfile(output, folder, job->displayName, job->profileId, gStore);
        job->outputPath = output;
    }
    int result = suffix < 0 ? -1 : ConverterRun(gConverterPath, job->sourcePath, job->outputPath,
                                                  *job, snapshot, ConverterTickThunk, job);
    {
        // The frame-rate rule may have changed the run's options: later jobs use the same.
        JobLockGuard lock;
        gSnapshot.frameRate = snapshot.frameRate;
    }
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
    // A stopped job keeps showing "Cancelled" while its converter winds down.
    if (!job->stopRequested) job->status = Converting;
    RunOnGuiThread(ShowJobProgressOnGui, job);
}

void ShowJobProgress(ConversionJob* job) {
    if (Closing || gFront == nullptr) return;
    JobLockGuard lock;
    if (Busy) {
        double average = 0.0;
        int inUse = ProgressAverage(&average);
        double done = inUse * average + RunFinished * 100.0;
        double whole = RunQueued * 100.0;
        int percent = whole != 0.0 ? static_cast<int>(done * 100.0 / whole) : 0;
        gFront->ShowRunProgress(ActiveCount.load(), WorkerCount.load(), percent);
    }
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
    if (gStore == nullptr || Closing) return;
    if (CountLiveWorkers() == 0) {
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
        // exited as their very last step.
        if (thread.routine == nullptr) continue;
        while (!thread.exited.load()) {
            if (IsGuiThread()) GuiCallWait(10);
            else thread.exited.wait(false);
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
