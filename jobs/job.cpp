#include "jobs/job.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "converter/profiles.h"
#include "converter/progress.h"
#include "converter/sizetext.h"
#include "settings/datafiles.h"
#include "util/files.h"
#include "util/ptrlist.h"
#include "util/textutil.h"

std::atomic<bool> Closing{false};

const char* const kJobColumnCaptions[kJobColumnCount] = {"Source", "Duration", "Name", "Status"};

namespace {

enum class StatusKind : uint8_t { Fixed, Transfer, Converting, Done, Ready };

// How each status code is shown. Codes outside the table show nothing.
struct StatusRow {
    int16_t code;
    const char* text;
    StatusKind kind;
    int image;
};

constexpr StatusRow kStatusRows[] = {
    {.code = Starting, .text = "Starting", .kind = StatusKind::Fixed, .image = 1},
    {.code = GetInfo, .text = "Get Video Info  ", .kind = StatusKind::Transfer, .image = 1},
    {.code = Downloading, .text = "Downloading  ", .kind = StatusKind::Transfer, .image = 1},
    {.code = NotFound, .text = "Not found", .kind = StatusKind::Fixed, .image = 3},
    {.code = Converting, .text = "Converting", .kind = StatusKind::Converting, .image = 1},
    {.code = Done, .text = "OK     (", .kind = StatusKind::Done, .image = 2},
    {.code = Cancelled, .text = "Cancelled", .kind = StatusKind::Fixed, .image = 3},
    {.code = CancelledNotFound, .text = "Cancelled (not found)", .kind = StatusKind::Fixed, .image = 3},
    {.code = ConvertError, .text = "Conversion Error", .kind = StatusKind::Fixed, .image = 3},
    {.code = Pending, .text = "Pending", .kind = StatusKind::Fixed, .image = 1},
    {.code = Ready, .text = "Ready  (", .kind = StatusKind::Ready, .image = 0},
};

constexpr int kStatusLookupSize = 16;

// Code -> row index (-1 none), built once at compile time.
constexpr std::array<int8_t, kStatusLookupSize> kStatusLookup = [] {
    std::array<int8_t, kStatusLookupSize> table{};
    table.fill(-1);
    for (int i = 0; i < static_cast<int>(std::size(kStatusRows)); ++i)
        table[kStatusRows[i].code] = static_cast<int8_t>(i);
    return table;
}();

const StatusRow* FindStatus(int16_t code) {
    if (code < 0 || code >= kStatusLookupSize) return nullptr;
    const int row = kStatusLookup[code];
    return row < 0 ? nullptr : &kStatusRows[row];
}

// Byte count of the reserved transfer statuses: the unit follows the number
// of decimal digits, the divisor powers of 1024; "B" rather than "Bytes".
void AppendTransferSize(std::string& out, uint64_t n) {
    char buf[48];
    if (n < 1024) {
        std::snprintf(buf, sizeof buf, "%" PRIu64 " B", n);
    } else if (n < 1000000ULL) {
        std::snprintf(buf, sizeof buf, "%.2f KB", static_cast<double>(n) / 1024.0);
    } else if (n < 1000000000ULL) {
        std::snprintf(buf, sizeof buf, "%.2f MB", static_cast<double>(n) / (1024.0 * 1024.0));
    } else {
        std::snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(n) / (1024.0 * 1024.0 * 1024.0));
    }
    out += buf;
}

// Scratch text for the size helpers, which fill a string of their own.
std::string& Scratch() {
    thread_local std::string scratch;
    return scratch;
}

void AppendUnsigned(std::string& out, uint64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%" PRIu64, value);
    out += buf;
}

void AppendTwoDigits(std::string& out, unsigned value) {
    if (value >= 100) {
        AppendUnsigned(out, value);
        return;
    }
    out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
}

void RenumberFrom(JobStore* store, int first) {
    const int count = ListCount(store->list);
    for (int i = first < 0 ? 0 : first; i < count; ++i)
        static_cast<ConversionJob*>(ListGet(store->list, i))->position = i;
}

} // namespace

JobStore* JobStoreCreate() {
    auto* store = new JobStore;
    store->list = ListCreate(10, 5, JobFree, HistoryWriteEntry, HistoryReadEntry);
    return store;
}

void JobStoreRelease(JobStore* store) {
    if (store == nullptr) return;
    ListDestroy(store->list);
    delete store;
}

ConversionJob* JobCreate(const std::string& sourcePath) {
    auto* job = new ConversionJob;
    job->sourcePath = sourcePath;
    return job;
}

void JobFree(void* job) {
    delete static_cast<ConversionJob*>(job);
}

int JobCount(const JobStore* store) {
    return store != nullptr && store->list != nullptr ? ListCount(store->list) : 0;
}

ConversionJob* JobAt(const JobStore* store, int index) {
    if (index < 0 || index >= JobCount(store)) return nullptr;
    return static_cast<ConversionJob*>(ListGet(store->list, index));
}

int JobStoreTrim(JobStore* store) {
    const int count = JobCount(store);
    if (count <= MaxJobs) return 0;
    const int drop = count - MaxJobs;
    // One block move rather than one per dropped entry: a damaged history
    // file may bring a few thousand too many.
    PtrList* list = store->list;
    for (int i = 0; i < drop; ++i) JobFree(list->items[i]);
    std::memmove(list->items, list->items + drop, sizeof(void*) * static_cast<size_t>(count - drop));
    list->count = count - drop;
    RenumberFrom(store, 0);
    return drop;
}

int JobStoreAppend(JobStore* store, ConversionJob* job) {
    if (store == nullptr || job == nullptr) return -1;
    int index = ListAppend(store->list, job);
    if (index < 0) return -1;
    job->position = index;
    const int dropped = JobStoreTrim(store);
    return index - dropped;
}

bool JobStoreRemove(JobStore* store, int index) {
    ConversionJob* job = JobAt(store, index);
    if (job == nullptr) return false;
    if (ListDelete(store->list, index) == 0) return false;
    JobFree(job);
    RenumberFrom(store, index);
    return true;
}

void JobStoreRenumber(JobStore* store) {
    if (JobCount(store) > 0) RenumberFrom(store, 0);
}

int CountReady(const JobStore* store, int* cancelled) {
    int ready = 0;
    int stopped = 0;
    const int count = JobCount(store);
    for (int i = 0; i < count; ++i) {
        const int16_t status = JobAt(store, i)->status.load(std::memory_order_relaxed);
        if (status == Ready) ++ready;
        else if (status == Cancelled) ++stopped;
    }
    if (cancelled != nullptr) *cancelled = stopped;
    return ready;
}

int RequeueCancelled(JobStore* store) {
    const int count = JobCount(store);
    for (int i = 0; i < count; ++i) {
        ConversionJob* job = JobAt(store, i);
        if (job->status.load(std::memory_order_relaxed) == Cancelled) job->status.store(Ready);
    }
    return CountReady(store, nullptr);
}

int RemoveEntriesWithoutOutput(JobStore* store) {
    int removed = 0;
    for (int i = JobCount(store) - 1; i >= 0; --i) {
        ConversionJob* job = JobAt(store, i);
        if (FileExists(job->outputPath)) continue;
        ListDelete(store->list, i);
        JobFree(job);
        ++removed;
    }
    if (removed > 0) JobStoreRenumber(store);
    return removed;
}

void StatusText(const ConversionJob& job, std::string& out) {
    out.clear();
    if (Closing.load(std::memory_order_relaxed)) return;
    const StatusRow* row = FindStatus(job.status.load(std::memory_order_relaxed));
    if (row == nullptr) return;

    switch (row->kind) {
    case StatusKind::Fixed:
        out += row->text;
        break;
    case StatusKind::Transfer:
        out += row->text;
        if (job.subStatus == 2) {
            AppendTransferSize(out, job.progressBytes);
            if (job.outputSize != 0) {
                // 128-bit so that a huge count from a damaged file cannot wrap.
                const auto percent = static_cast<unsigned __int128>(job.progressBytes) * 100u / job.outputSize;
                out += " - ";
                AppendUnsigned(out, percent > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(percent));
                out += '%';
            }
        }
        break;
    case StatusKind::Converting: {
        double percent = 0.0;
        int64_t amountKb = 0;
        if (job.progressSlot < 0 || ProgressRead(job.progressSlot, &percent, &amountKb) == 0) {
            out += row->text;
            break;
        }
        char buf[32];
        std::snprintf(buf, sizeof buf, "Convert %.1f%% ", percent);
        out += buf;
        std::string& left = Scratch();
        left.clear();
        FormatTimeLeft(left, job.startTick, percent);
        out += left;
        break;
    }
    case StatusKind::Done:
    case StatusKind::Ready: {
        out += row->text;
        std::string& size = Scratch();
        size.clear();
        FormatSize(size, row->kind == StatusKind::Done ? job.outputSize : job.sourceSize);
        out += size;
        out += ')';
        break;
    }
    }
}

void JobCellText(const ConversionJob& job, int column, std::string& out) {
    out.clear();
    if (Closing.load(std::memory_order_relaxed)) return;
    switch (column) {
    case 0:
        out += job.sourcePath;
        break;
    case 1: {
        int hours = 0, minutes = 0, seconds = 0;
        SecondsToHms(&hours, &minutes, &seconds, job.duration);
        AppendTwoDigits(out, static_cast<unsigned>(hours));
        out += ':';
        AppendTwoDigits(out, static_cast<unsigned>(minutes));
        out += ':';
        AppendTwoDigits(out, static_cast<unsigned>(seconds));
        break;
    }
    case 2:
        if (job.displayName.empty()) {
            out += "NoName";
        } else {
            out += job.displayName;
            out += " (";
            out += ProfileExtension(job.profileId);
            out += ')';
        }
        break;
    case 3:
        StatusText(job, out);
        break;
    default:
        break;
    }
}

int JobImageIndex(const ConversionJob& job) {
    const StatusRow* row = FindStatus(job.status.load(std::memory_order_relaxed));
    return row == nullptr ? 1 : row->image;
}

std::string JobNameFromSource(const std::string& sourcePath) {
    std::string name(kPathBufSize, '\0');
    PathSplit(sourcePath.c_str(), nullptr, nullptr, name.data(), nullptr);
    // A copy sized to the name: every job keeps one, 30000 of them.
    return std::string(name.c_str());
}
