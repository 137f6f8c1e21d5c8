// The main window's costs, offscreen:
//  1. start-up with a full 30000-entry history until the list is first painted
//     (median of 5, goal < 400 ms) and the process RSS after it (goal < 150 MB)
//  2. cell requests of one full repaint of the list against visible rows x 4
//  3. adding 200 small clips through the window's folder-add path against a
//     bare movenna-convert probe run directly on each (goal <= 1.2)
//  4. the GUI thread's own CPU time while 20 conversions run at once (the fake
//     converter reports progress 5 times a second each), goal < 5 % of one core
// usage: QT_QPA_PLATFORM=offscreen bench_window
#include "app/Main.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "converter/progress.h"
#include "jobs/job.h"
#include "jobs/scheduler.h"
#include "settings/datafiles.h"
#include "ui/Lvdata.h"
#include "ui/Shell.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kHistoryEntries = 30000;
constexpr int kStartRuns = 5;
constexpr int kClips = 200;
const std::string kBin = MOVENNA_BIN_DIR;

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    return -1;
}

// Notes the first paint of a widget.
class PaintSpy : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return QObject::eventFilter(watched, event);
    }
};

bool WriteHistory(const std::string& path) {
    JobStore* store = JobStoreCreate();
    static const char* const kFolders[] = {"/home/anna/Videos/Holiday 2024", "/home/anna/Videos/Camera/DCIM/100MEDIA",
                                           "/media/anna/USB DISK/Recordings", "/home/anna/Downloads"};
    for (int i = 0; i < kHistoryEntries; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "clip %05d - family trip.mp4", i);
        const std::string source = std::string(kFolders[i % 4]) + "/" + name;
        ConversionJob* job = JobCreate(source);
        job->origin = 1;
        job->profileId = 500;
        job->displayName = JobNameFromSource(source);
        job->outputPath = "/home/anna/Videos/Converted/" + job->displayName + ".avi";
        job->status = Done;
        job->duration = 30 + i % 600;
        job->sourceSize = 10'000'000 + static_cast<uint64_t>(i) * 1000;
        job->outputSize = 4'000'000 + static_cast<uint64_t>(i) * 500;
        job->progressBytes = job->outputSize;
        JobStoreAppend(store, job);
    }
    const bool ok = HistorySave(store, path);
    JobStoreRelease(store);
    return ok;
}

TFMainSetup Setup(const fs::path& root, const std::string& converter) {
    TFMainSetup s;
    s.converterPath = converter;
    s.playerPath = converter;
    s.dataFolder = (root / "data").string();
    s.defaultDestFolder = (root / "dest").string();
    return s;
}

std::unique_ptr<TFMain> OpenWindow(const TFMainSetup& setup) {
    auto window = std::make_unique<TFMain>(setup);
    window->settingsDialog = [](AppSettings&, const QString&) { return false; };
    return window;
}

// Milliseconds until the list's first paint; the window stays open.
double TimedStart(const TFMainSetup& setup, std::unique_ptr<TFMain>& window) {
    PaintSpy spy;
    const double start = NowMs();
    window = OpenWindow(setup);
    window->LVBook->viewport()->installEventFilter(&spy);
    window->show();
    QElapsedTimer guard;
    guard.start();
    while (!spy.painted && guard.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double elapsed = NowMs() - start;
    window->LVBook->viewport()->removeEventFilter(&spy);
    if (!spy.painted) std::printf("  warning: no paint of the list seen\n");
    return elapsed;
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int RunDirect(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double BareProbes(const std::string& converter, const std::vector<std::string>& files, int* failures) {
    const std::string channel = ProgressChannelName()[0] ? ProgressChannelName() : "000000000000";
    *failures = 0;
    const double start = NowMs();
    for (const std::string& f : files)
        if (RunDirect({converter, "-y", "-brmap", channel, "-brind", "-1", "-i", f}) != 0) ++*failures;
    return NowMs() - start;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ShellTest::EnableMessageBoxes(true);  // record message boxes instead of blocking on them

    char tmpl[] = "/tmp/movenna-bench-window-XXXXXX";
    const fs::path root = mkdtemp(tmpl);
    fs::create_directories(root / "data");
    fs::create_directories(root / "dest");
    const std::string converter = kBin + "/movenna-convert";

    // 1. Start-up with a full history.
    const std::string history = (root / "data" / kHistoryFileName).string();
    if (!WriteHistory(history)) {
        std::fprintf(stderr, "could not write %s\n", history.c_str());
        return 1;
    }
    const std::string historyCopy = history + ".orig";
    fs::copy_file(history, historyCopy);
    std::printf("history file: %d entries, %.1f MB\n", kHistoryEntries, fs::file_size(history) / 1e6);

    std::vector<double> starts;
    std::unique_ptr<TFMain> window;
    long rssKb = 0;
    for (int run = 0; run < kStartRuns; ++run) {
        window.reset();
        QApplication::processEvents();
        fs::copy_file(historyCopy, history, fs::copy_options::overwrite_existing);
        starts.push_back(TimedStart(Setup(root, converter), window));
        rssKb = StatusKb("VmRSS");
    }
    std::printf("1. start-up to first list paint: median %.1f ms (runs:", Median(starts));
    for (double s : starts) std::printf(" %.1f", s);
    std::printf(") goal < 400 ms\n");
    std::printf("   entries loaded: %d\n", JobCount(window->store()));
    std::printf("   RSS after start-up: %.1f MB (peak %.1f MB) goal < 150 MB\n", rssKb / 1024.0,
                StatusKb("VmHWM") / 1024.0);

    // 2. Cell requests of one full repaint.
    {
        TListViewData* list = window->LVBook;
        QWidget* viewport = list->viewport();
        const auto visibleRows = [&] {
            const int first = list->indexAt(QPoint(1, 1)).row();
            int last = list->indexAt(QPoint(1, viewport->height() - 1)).row();
            if (last < 0) last = list->lvdGetCount() - 1;
            return first < 0 ? 0 : last - first + 1;
        };
        const auto measure = [&](const char* where) {
            list->resetCellRequests();
            viewport->repaint();
            const long long requests = list->cellRequests();
            const int rows = visibleRows();
            std::printf("   %s: %lld cell requests, visible rows %d x 4 = %d (ratio %.2f)\n", where, requests, rows,
                        rows * 4, rows ? static_cast<double>(requests) / (rows * 4) : 0.0);
        };
        std::printf("2. one full repaint of the %d-row list (viewport %dx%d):\n", list->lvdGetCount(),
                    viewport->width(), viewport->height());
        measure("at the current position");
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 2);
        QApplication::processEvents();
        measure("in the middle");
    }
    window.reset();
    QApplication::processEvents();

    // 3. Adding 200 clips through the folder-add path.
    const fs::path media = root / "media";
    fs::create_directories(media);
    const std::string clip = (root / "clip.mp4").string();
    const std::string make = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=duration=0.2:size=160x120:rate=25"
                             " -c:v mpeg4 '" + clip + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the clip\n");
        return 1;
    }
    std::vector<std::string> files;
    for (int i = 0; i < kClips; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "clip%03d.mp4", i);
        files.push_back((media / name).string());
        fs::copy_file(clip, files.back());
    }

    fs::remove_all(root / "data");
    fs::create_directories(root / "data");
    window = OpenWindow(Setup(root, converter));
    window->show();
    QApplication::processEvents();

    int failuresBefore = 0, failuresAfter = 0;
    BareProbes(converter, {files[0]}, &failuresBefore);  // warm the caches
    const double bareBefore = BareProbes(converter, files, &failuresBefore);
    const double addStart = NowMs();
    window->AddDroppedFiles({media.string()});
    const double added = NowMs() - addStart;
    const int count = JobCount(window->store());
    const double bareAfter = BareProbes(converter, files, &failuresAfter);
    const double bare = (bareBefore + bareAfter) / 2;
    std::printf("3. adding %d clips by the folder-add path: %.1f ms, %.2f ms per file, %d entries added\n", kClips,
                added, added / kClips, count);
    std::printf("   bare probe run directly: %.2f ms per file (before %.1f ms, after %.1f ms; failures %d/%d)\n",
                bare / kClips, bareBefore, bareAfter, failuresBefore, failuresAfter);
    std::printf("   ratio window/bare: %.3f goal <= 1.2\n", added / bare);
    std::printf("   message boxes shown: %zu\n", ShellTest::MessageBoxesShown().size());

    window.reset();
    QApplication::processEvents();

    // 4. 20 conversions at once against the fake converter: 20 probes, then
    // every conversion reports 51 progress values 200 ms apart (about 10 s).
    {
        constexpr int kRunning = 20;
        const fs::path runMedia = root / "run";
        fs::create_directories(runMedia);
        std::vector<std::string> sources;
        for (int i = 0; i < kRunning; ++i) {
            sources.push_back((runMedia / ("video" + std::to_string(i) + ".avi")).string());
            std::ofstream(sources.back()) << "not read by the fake converter";
        }
        std::string script;
        for (int i = 0; i < kRunning; ++i) script += "duration:60|";
        script += "tick:200;progress:";
        for (int p = 0; p <= 100; p += 2) script += std::to_string(p) + (p < 100 ? "," : "");
        script += ";output:4096";
        setenv("FAKE_CONVERT_SCRIPT", script.c_str(), 1);
        setenv("FAKE_CONVERT_COUNTER", (root / "counter").c_str(), 1);
        fs::remove_all(root / "data");
        fs::create_directories(root / "data");
        TFMainSetup setup = Setup(root, kBin + "/fake-convert");
        window = std::make_unique<TFMain>(setup);
        window->settingsDialog = [](AppSettings&, const QString&) { return true; };
        window->settings().maxConversions = kRunning;
        window->show();
        QApplication::processEvents();
        window->AddDroppedFiles(sources);
        QElapsedTimer guard;
        guard.start();
        while (WorkerCount.load() < kRunning && guard.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        const double wallStart = NowMs(), guiStart = ThreadCpuMs(), allStart = ProcessCpuMs();
        // A real event loop, as the window's, until the run ends.
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (!Busy || guard.elapsed() > 60000) loop.quit();
        });
        check.start(100);
        loop.exec();
        const double wall = NowMs() - wallStart, gui = ThreadCpuMs() - guiStart, all = ProcessCpuMs() - allStart;
        int done = 0;
        for (int i = 0; i < JobCount(window->store()); ++i) done += JobAt(window->store(), i)->status == Done;
        std::printf("4. %d conversions at once, %.1f s: GUI thread %.1f ms CPU = %.2f %% of one core (goal < 5 %%);"
                    " whole program %.2f %%; %d of %d Done\n",
                    kRunning, wall / 1000, gui, 100 * gui / wall, 100 * all / wall, done, JobCount(window->store()));
        unsetenv("FAKE_CONVERT_SCRIPT");
        unsetenv("FAKE_CONVERT_COUNTER");
        window.reset();
        QApplication::processEvents();
    }

    Busy = false;
    fs::remove_all(root);
    return 0;
}
