// The job record, the program-wide job list and the texts the list shows.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "net/worker.h"

struct PtrList;

enum JobStatus : int16_t {
    Starting = 0,
    GetInfo = 1,           // reserved
    Downloading = 2,       // reserved
    NotFound = 3,          // reserved
    Converting = 4,
    Done = 5,
    Cancelled = 6,
    CancelledNotFound = 7, // reserved
    ConvertError = 8,
    Pending = 14,
    Ready = 15,
};

constexpr int MaxJobs = 30000;

// Set while the program shuts down: the list texts go quiet.
extern std::atomic<bool> Closing;

struct ConversionJob {
    int16_t origin = 0;
    int16_t profileId = 0;
    std::string sourcePath;
    std::string displayName;
    std::string outputPath;
    // Written by the GUI thread (stop) and the job's worker without a lock.
    std::atomic<int16_t> status{Starting};
    int16_t subStatus = 0;
    uint64_t progressBytes = 0;
    uint64_t outputSize = 0;
    uint32_t duration = 0;
    uint32_t startTick = 0;
    std::atomic<bool> stopRequested{false};
    int32_t position = 0;
    // Set by the worker under the job lock, read by the list's painting.
    std::atomic<int32_t> progressSlot{0};
    uint64_t sourceSize = 0;
    // Why the last run failed, one line for the user; kept in memory only.
    // Written by the worker and read by the window under the job lock.
    std::string errorText;
    // The job's worker thread while a run is in progress.
    WorkerThread thread;
    // Bumped to wake the job's waiting worker (it sleeps on it, never on a timer).
    std::atomic<uint32_t> wakeSeq{0};
};

struct JobStore {
    PtrList* list = nullptr;
    uint32_t reserved = 0; // carried by the history file unchanged
};

JobStore* JobStoreCreate();
void JobStoreRelease(JobStore* store);
ConversionJob* JobCreate(const std::string& sourcePath);
void JobFree(void* job);
// The name a job shows and converts to: the source file name without folder and extension.
std::string JobNameFromSource(const std::string& sourcePath);
int JobCount(const JobStore* store);
ConversionJob* JobAt(const JobStore* store, int index);
// Appends and keeps at most MaxJobs entries by dropping (and releasing) the
// oldest; returns the new entry's index, or -1 when refused (the caller still
// owns the job).
int JobStoreAppend(JobStore* store, ConversionJob* job);
// Releases the oldest entries until at most MaxJobs remain, then renumbers.
// Returns the number dropped.
int JobStoreTrim(JobStore* store);
// Removes (and releases) the entry at index and renumbers the rest.
bool JobStoreRemove(JobStore* store, int index);
void JobStoreRenumber(JobStore* store);
int CountReady(const JobStore* store, int* cancelled);
int RequeueCancelled(JobStore* store);
int RemoveEntriesWithoutOutput(JobStore* store);

// Column captions of the job list.
constexpr int kJobColumnCount = 4;
extern const char* const kJobColumnCaptions[kJobColumnCount];

// The texts are produced into out, reusing its capacity: a row is painted
// often. While Closing is set they are empty.
void StatusText(const ConversionJob& job, std::string& out);
void JobCellText(const ConversionJob& job, int column, std::string& out);
// Index into the list's images: 0 ready, 1 in progress, 2 done, 3 failed or cancelled.
int JobImageIndex(const ConversionJob& job);
