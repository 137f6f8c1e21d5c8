// A full job list queued at once against the scripted fake converter: how
// long until every worker is up and the first conversions run, what the
// waiting workers cost while nothing changes, memory, and the wind-down after
// Stop All.
//
//   bench_scheduler [jobs=30000] [maxConversions=20] [idleSeconds=5]
//
// fake-convert is taken from this program's own folder (the build's bin).
// The converters hang until stopped (fake-convert "hang"), so the idle phase
// measures the scheduler alone: the GUI thread still gets one refresh per
// running converter each second, as the window would.
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "converter/profiles.h"
#include "converter/progress.h"
#include "jobs/job.h"
#include "jobs/scheduler.h"
#include "net/worker.h"
#include "util/files.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Counts what the window would draw; draws nothing.
class CountingFront : public SchedulerFrontEnd {
public:
    long rows = 0;
    long progress = 0;
    int ended = 0;
    void SetBusyState(bool) override {}
    void ShowRunProgress(int, int, int) override { ++progress; }
    void ShowJobRow(int) override { ++rows; }
    void UpdateCommandStates() override {}
    bool Ask(RunQuestion, int) override { return true; }
    bool ConfirmRun(int) override { return true; }
    void SaveSettings() override {}
    void RunStarting() override {}
    void RunEnded() override { ++ended; }
    void JobsRequeued() override {}
    bool AddVideosByDialog() override { return false; }
    int FocusedJob() override { return -1; }
    void CloseMainWindow() override {}
};

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto tv = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return tv(usage.ru_utime) + tv(usage.ru_stime);
}

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentRssKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// Threads and processes alive on the machine (the 4th field of loadavg).
long SystemTasks() {
    std::ifstream loadavg("/proc/loadavg");
    std::string a, b, c, tasks;
    loadavg >> a >> b >> c >> tasks;
    size_t slash = tasks.find('/');
    return slash == std::string::npos ? 0 : std::atol(tasks.c_str() + slash + 1);
}

long ReadLong(const char* path) {
    std::ifstream in(path);
    long v = 0;
    in >> v;
    return v;
}

} // namespace

int main(int argc, char** argv) {
    int jobs = argc > 1 ? std::atoi(argv[1]) : 30000;
    int maxConversions = argc > 2 ? std::atoi(argv[2]) : 20;
    int idleSeconds = argc > 3 ? std::atoi(argv[3]) : 5;
    if (jobs < 1 || jobs > MaxJobs || maxConversions < 1 || maxConversions > 20 || idleSeconds < 1) {
        fprintf(stderr, "usage: bench_scheduler [jobs 1..30000] [max 1..20] [idle seconds]\n");
        return 2;
    }
    // Every worker is a task: stay clear of the machine's limit.
    long pidMax = ReadLong("/proc/sys/kernel/pid_max");
    long tasks = SystemTasks();
    if (pidMax > 0 && tasks + jobs + 2 * maxConversions + 500 > pidMax) {
        fprintf(stderr, "%d workers with %ld tasks running would come too close to pid_max %ld\n", jobs,
                tasks, pidMax);
        return 1;
    }

    char tmpl[] = "/tmp/movenna-bench-sched-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    const std::string dir = tmpl;
    fs::create_directories(dir + "/out");
    const std::string source = dir + "/source.avi";
    std::ofstream(source) << "source\n";
    const std::string log = dir + "/fake.log";
    setenv("FAKE_CONVERT_SCRIPT", "progress:10;hang", 1);
    unsetenv("FAKE_CONVERT_COUNTER");
    unsetenv("FAKE_CONVERT_LOG");

    if (!ProgressOpen()) return 1;
    CreateGuiCallWindow();
    JobLockCreate();
    JobStore* store = JobStoreCreate();
    AppSettings settings;
    SettingsReset(settings);
    settings.destFolder = dir + "/out";
    settings.maxConversions = static_cast<int16_t>(maxConversions);
    CountingFront front;
    SchedulerInit(&front, store, &settings, ModuleFilePath("fake-convert"));
    for (int i = 0; i < jobs; ++i) {
        ConversionJob* job = JobCreate(source);
        job->origin = 1;
        job->profileId = settings.profileId;
        job->displayName = "source";
        job->duration = 60;
        job->status = Ready;
        JobStoreAppend(store, job);
    }
    long rssBefore = CurrentRssKb();
    printf("jobs %d, maxConversions %d, tasks on the machine before: %ld (pid_max %ld)\n", jobs,
           maxConversions, tasks, pidMax);

    // Start: every thread created, then every converter place taken and its
    // converter reporting progress.
    Clock::time_point t0 = Clock::now();
    StartConversions();
    double threadsUp = Seconds(t0);
    int startedWorkers = CountLiveWorkers();
    auto convertersReporting = [&] {
        int count = 0;
        for (int i = 0; i < maxConversions && i < jobs; ++i) {
            double percent = 0;
            if (ProgressRead(JobAt(store, i)->progressSlot, &percent, nullptr) == 1 && percent > 0)
                ++count;
        }
        return count;
    };
    const int expectedRunning = std::min(jobs, maxConversions);
    while (convertersReporting() < expectedRunning) {
        GuiCallWait(5);
        if (Seconds(t0) > 120) {
            fprintf(stderr, "converters did not start\n");
            break;
        }
    }
    double allStarted = Seconds(t0);
    // Let the start-up settle (threads parking) before measuring the idle cost.
    Clock::time_point settle = Clock::now();
    while (Seconds(settle) < 1.0) GuiCallWait(100);

    double cpu0 = CpuSeconds();
    long rows0 = front.rows;
    Clock::time_point idle = Clock::now();
    while (Seconds(idle) < idleSeconds) GuiCallWait(100);
    double idleWall = Seconds(idle);
    double idleCpu = CpuSeconds() - cpu0;
    long idleRows = front.rows - rows0;
    long rssRunning = CurrentRssKb();

    Clock::time_point t1 = Clock::now();
    StopAllConversionsNow();
    while (front.ended == 0) {
        GuiCallWait(50);
        if (Seconds(t1) > 300) {
            fprintf(stderr, "the run did not end\n");
            break;
        }
    }
    double runEnded = Seconds(t1);
    WaitForAllWorkersExited(store);
    double allExited = Seconds(t1);

    int cancelled = 0;
    for (int i = 0; i < JobCount(store); ++i) cancelled += JobAt(store, i)->status.load() == Cancelled;

    printf("worker threads created (StartConversions returned): %.3f s, %d live workers\n", threadsUp,
           startedWorkers);
    printf("all workers started and %d converters reporting:     %.3f s   (goal < 3 s)\n",
           expectedRunning, allStarted);
    printf("idle: %.3f s CPU over %.2f s wall = %.2f %% of one core (goal < 2 %%), %ld row refreshes\n",
           idleCpu, idleWall, 100.0 * idleCpu / idleWall, idleRows);
    printf("memory: RSS %.1f MB with the list only, %.1f MB running, peak %.1f MB (goal < 300 MB)\n",
           rssBefore / 1024.0, rssRunning / 1024.0, PeakRssKb() / 1024.0);
    printf("stop all: run ended after %.3f s, every thread exited after %.3f s; %d of %d cancelled\n",
           runEnded, allExited, cancelled, jobs);

    JobStoreRelease(store);
    JobLockClose();
    CloseGuiCallWindow();
    ProgressClose();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
