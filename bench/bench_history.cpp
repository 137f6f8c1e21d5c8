// Loads and saves a history file of MaxJobs entries with realistic paths.
// Prints the median of several runs and the peak resident memory.
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jobs/job.h"
#include "settings/datafiles.h"

namespace {

constexpr int kRuns = 9;

const char* const kFolders[] = {"Holidays 2007", "Camera/DCIM/100MEDIA", "Downloads", "Family/Birthday party",
                                "TV recordings", "Screen captures", "Old tapes (digitised)", "Phone"};
const char* const kExtensions[] = {".avi", ".mpg", ".wmv", ".mov", ".mkv", ".flv"};
const int16_t kStatuses[] = {Done, Done, Done, Done, Cancelled, ConvertError, Ready};

JobStore* MakeStore() {
    JobStore* store = JobStoreCreate();
    for (int i = 0; i < MaxJobs; ++i) {
        const std::string folder = std::string("/home/annabelle/Videos/") + kFolders[i % std::size(kFolders)];
        const std::string name = "clip " + std::to_string(100000 + i) + " - take " + std::to_string(i % 7);
        ConversionJob* job = JobCreate(folder + "/" + name + kExtensions[i % std::size(kExtensions)]);
        job->origin = 1;
        job->profileId = static_cast<int16_t>(500 + i % 17);
        job->displayName = name;
        job->outputPath = "/home/annabelle/Videos/Converted/" + name + ".mp4";
        job->status = kStatuses[i % std::size(kStatuses)];
        job->outputSize = 1000000ull + static_cast<uint64_t>(i) * 7919;
        job->duration = static_cast<uint32_t>(30 + i % 7200);
        JobStoreAppend(store, job);
    }
    return store;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    std::string templ = (base / "movenna-bench-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = (fs::path(templ) / kHistoryFileName).string();
    const long rssStart = PeakRssKb();

    JobStore* store = MakeStore();
    using Clock = std::chrono::steady_clock;
    auto measure = [&](std::vector<double>& saves, std::vector<double>& loads) {
        for (int run = 0; run < kRuns; ++run) {
            auto t0 = Clock::now();
            if (!HistorySave(store, path)) {
                std::fprintf(stderr, "save failed\n");
                std::exit(1);
            }
            auto t1 = Clock::now();
            JobStore* loaded = JobStoreCreate();
            if (!HistoryLoad(loaded, path) || JobCount(loaded) != MaxJobs) {
                std::fprintf(stderr, "load failed\n");
                std::exit(1);
            }
            auto t2 = Clock::now();
            JobStoreRelease(loaded);
            saves.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            loads.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        }
    };
    // As at start-up: the loaded entries land on pages the process has never
    // touched (the C library gives freed heap back between the runs).
    std::vector<double> saves, loads;
    measure(saves, loads);
    const long rssPeak = PeakRssKb();
    // Then with the heap kept between runs: the reading itself, without the
    // kernel's first-touch cost, which differs a lot between machines.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    std::vector<double> warmSaves, warmLoads;
    measure(warmSaves, warmLoads);

    // What first-touching memory costs on this machine, to read the above.
    constexpr size_t kTouch = 16u << 20;
    auto t0 = Clock::now();
    auto* block = static_cast<char*>(mmap(nullptr, kTouch, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    for (size_t i = 0; i < kTouch; i += 4096) block[i] = 1;
    const double touchMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    munmap(block, kTouch);

    const auto size = fs::file_size(path);
    JobStoreRelease(store);
    fs::remove_all(templ);

    std::printf("history of %d entries, %.1f MB, in %s\n", MaxJobs, static_cast<double>(size) / 1e6, base.c_str());
    std::printf("save (with fsync): median %.2f ms of %d runs (goal < 50 ms)\n", Median(saves), kRuns);
    std::printf("load, fresh pages: median %.2f ms of %d runs (goal < 50 ms)\n", Median(loads), kRuns);
    std::printf("load, heap reused: median %.2f ms of %d runs\n", Median(warmLoads), kRuns);
    std::printf("save, heap reused: median %.2f ms of %d runs\n", Median(warmSaves), kRuns);
    std::printf("first touch of 16 MB of fresh memory on this machine: %.1f ms\n", touchMs);
    std::printf("peak memory (ru_maxrss): %.1f MB with the saved and the loaded list both held (%.1f MB at start)\n",
                rssPeak / 1024.0, rssStart / 1024.0);
    return 0;
}
