// fake-convert: a scripted stand-in for movenna-convert, so that process,
// converter-run and scheduler tests are fast and deterministic.
//
// It accepts the converter's command lines, keeps the slot protocol (-brmap
// names the shared memory, -brind the slot) and follows a script:
//
//   script  := call ('|' call)*          one call per run, picked by the counter
//   call    := step (';' step)*
//   step    := progress:V,V,...          percent values, one per tick
//            | tick:MS                   pause after each progress value (default 0)
//            | amount:X                  bytes written so far (offset 24)
//            | duration:X                source duration (offset 40)
//            | output:N                  writes N bytes to the output (0: empty file);
//                                        ignored by a probe (no output argument)
//            | sleep:MS                  pauses; a stop request ends the run early
//            | hang                      waits for a stop request (gives up after 60 s: exit 99)
//            | deaf                      from now on ignores stop requests (a converter slow to end)
//            | stopexit:N                exit code after a stop request (default 1)
//            | exit:N                    ends now with N (negative codes allowed)
//            | signal:N | crash          dies by signal N (crash: SIGSEGV), no core file
//            | unlink:PATH               removes a file (e.g. its own copy: the next start fails)
//   The end of a call exits 0.
//
// Where the script comes from, first match wins:
//   1. the source file (argument after -i) begins with "fake-script:": the rest
//      of its first line (lets one test give every job its own behaviour);
//   2. FAKE_CONVERT_SCRIPT, or the file named by FAKE_CONVERT_SCRIPT_FILE;
//   3. a probe writes duration 60 and exits 0; a conversion writes progress
//      0, 50, 100 and 4096 output bytes and exits 0.
// FAKE_CONVERT_COUNTER names a file holding the number of earlier calls; call n
// of the script runs (the last one once they run out). Without it, call 0.
// FAKE_CONVERT_LOG names a file to which every run appends its pid and argv:
//   "pid P\nfds F\nargc N\n" then per argument "LEN\nBYTES\n", then "end\n",
//   F listing the descriptors it was started with as "N=TARGET" separated by blanks.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "converter/progress_slot.h"

namespace {

struct Args {
    std::vector<std::string> all;
    std::string mapName;
    int slotIndex = -1;
    std::string source;
    std::string output; // empty for a probe
};

Args ParseArgs(int argc, char** argv) {
    Args a;
    for (int i = 0; i < argc; ++i) a.all.emplace_back(argv[i]);
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "-brmap" && i + 1 < argc) {
            a.mapName = argv[++i];
        } else if (s == "-brind" && i + 1 < argc) {
            a.slotIndex = std::atoi(argv[++i]);
        } else if (s == "-i" && i + 1 < argc) {
            a.source = argv[++i];
        }
    }
    // A conversion ends with the output path; a probe ends with "-i SOURCE".
    if (argc >= 3 && std::strcmp(argv[argc - 2], "-i") != 0) a.output = argv[argc - 1];
    return a;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadFile(const std::string& path, std::string& out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

// The descriptors open at start, as "0=/dev/null 1=... 2=...".
std::string OpenDescriptors() {
    std::string list;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return list;
    const int own = dirfd(dir);
    std::vector<int> fds;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        int fd = std::atoi(e->d_name);
        if (fd != own) fds.push_back(fd);
    }
    closedir(dir);
    std::sort(fds.begin(), fds.end());
    for (int fd : fds) {
        char target[4096] = {};
        std::string link = "/proc/self/fd/" + std::to_string(fd);
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (!list.empty()) list += ' ';
        list += std::to_string(fd) + "=" + (n > 0 ? std::string(target, static_cast<size_t>(n)) : "?");
    }
    return list;
}

void LogArgs(const Args& a) {
    const char* path = std::getenv("FAKE_CONVERT_LOG");
    if (!path || !*path) return;
    std::string rec = "pid " + std::to_string(getpid()) + "\nfds " + OpenDescriptors() +
                      "\nargc " + std::to_string(a.all.size()) + "\n";
    for (const std::string& s : a.all) rec += std::to_string(s.size()) + "\n" + s + "\n";
    rec += "end\n";
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    flock(fd, LOCK_EX);
    WriteAll(fd, rec);
    close(fd);
}

// Returns the number of earlier calls and counts this one.
int NextCallNumber() {
    const char* path = std::getenv("FAKE_CONVERT_COUNTER");
    if (!path || !*path) return 0;
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    flock(fd, LOCK_EX);
    char buf[32] = {};
    ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    int count = n > 0 ? std::atoi(buf) : 0;
    std::string next = std::to_string(count + 1);
    if (ftruncate(fd, 0) == 0) {
        if (pwrite(fd, next.data(), next.size(), 0) < 0) count = 0;
    }
    close(fd);
    return count;
}

std::string FindScript(const Args& a) {
    static constexpr char kMarker[] = "fake-script:";
    std::string text;
    if (!a.source.empty() && ReadFile(a.source, text) &&
        text.compare(0, sizeof kMarker - 1, kMarker) == 0) {
        text.erase(0, sizeof kMarker - 1);
        return text.substr(0, text.find('\n'));
    }
    if (const char* s = std::getenv("FAKE_CONVERT_SCRIPT"); s && *s) return s;
    if (const char* f = std::getenv("FAKE_CONVERT_SCRIPT_FILE"); f && *f && ReadFile(f, text)) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }
    return a.output.empty() ? "duration:60;exit:0" : "progress:0,50,100;output:4096;exit:0";
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = s.find(sep, start);
        parts.push_back(s.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

class Slot {
public:
    Slot(const std::string& name, int index) {
        if (name.empty() || index < 0 || index >= kProgressSlotCount) return;
        std::string shmName = std::string(kProgressNamePrefix) + name;
        int fd = shm_open(shmName.c_str(), O_RDWR, 0);
        if (fd < 0) return;
        void* p = mmap(nullptr, kProgressChannelSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (p == MAP_FAILED) return;
        base_ = p;
        slot_ = static_cast<ProgressSlot*>(p) + index;
    }
    ~Slot() {
        if (base_) munmap(base_, kProgressChannelSize);
    }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

    void SetPercent(double v) { Store(slot_ ? &slot_->percent : nullptr, v); }
    void SetAmount(double v) { Store(slot_ ? &slot_->amount : nullptr, v); }
    void SetDuration(double v) { Store(slot_ ? &slot_->duration : nullptr, v); }
    bool StopRequested() const {
        return !deaf && slot_ && std::atomic_ref<uint8_t>(slot_->stop).load(std::memory_order_acquire) != 0;
    }
    bool deaf = false;

private:
    static void Store(double* field, double v) {
        if (field) std::atomic_ref<double>(*field).store(v, std::memory_order_release);
    }
    void* base_ = nullptr;
    ProgressSlot* slot_ = nullptr;
};

[[noreturn]] void DieBySignal(int sig) {
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    // Sanitizers catch SIGSEGV themselves; the default action is what is wanted.
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    std::_Exit(98); // a signal whose default is to carry on
}

// Sleeps up to ms; true when a stop request came first.
bool SleepWatchingStop(const Slot& slot, long ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (slot.StopRequested()) return true;
        auto now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(
            std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(10)));
    }
}

int WriteOutput(const std::string& path, long size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    std::string chunk(64 * 1024, 'x');
    long left = size;
    while (left > 0) {
        size_t n = static_cast<size_t>(std::min<long>(left, static_cast<long>(chunk.size())));
        if (!WriteAll(fd, chunk.substr(0, n))) break;
        left -= static_cast<long>(n);
    }
    close(fd);
    return 0;
}

int Run(const Args& a, const std::string& call) {
    Slot slot(a.mapName, a.slotIndex);
    long tickMs = 0;
    int stopExit = 1;
    for (const std::string& step : Split(call, ';')) {
        size_t colon = step.find(':');
        std::string name = step.substr(0, colon);
        std::string arg = colon == std::string::npos ? "" : step.substr(colon + 1);
        if (name == "progress") {
            for (const std::string& v : Split(arg, ',')) {
                slot.SetPercent(std::strtod(v.c_str(), nullptr));
                if (tickMs > 0 && SleepWatchingStop(slot, tickMs)) return stopExit;
            }
        } else if (name == "tick") {
            tickMs = std::atol(arg.c_str());
        } else if (name == "amount") {
            slot.SetAmount(std::strtod(arg.c_str(), nullptr));
        } else if (name == "duration") {
            slot.SetDuration(std::strtod(arg.c_str(), nullptr));
        } else if (name == "output") {
            if (!a.output.empty()) WriteOutput(a.output, std::atol(arg.c_str()));
        } else if (name == "sleep") {
            if (SleepWatchingStop(slot, std::atol(arg.c_str()))) return stopExit;
        } else if (name == "hang") {
            return SleepWatchingStop(slot, 60000) ? stopExit : 99;
        } else if (name == "deaf") {
            slot.deaf = true;
        } else if (name == "stopexit") {
            stopExit = std::atoi(arg.c_str());
        } else if (name == "exit") {
            return std::atoi(arg.c_str());
        } else if (name == "signal") {
            DieBySignal(std::atoi(arg.c_str()));
        } else if (name == "unlink") {
            unlink(arg.c_str());
        } else if (name == "crash") {
            DieBySignal(SIGSEGV);
        } else if (!name.empty()) {
            std::fprintf(stderr, "fake-convert: unknown step '%s'\n", step.c_str());
            return 97;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Args a = ParseArgs(argc, argv);
    // As the real converter: started by the program, it leaves the terminal's
    // Ctrl+C and Ctrl+\ to the program and does not outlive it.
    if (!a.mapName.empty()) {
        std::signal(SIGINT, SIG_IGN);
        std::signal(SIGQUIT, SIG_IGN);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
    }
    LogArgs(a);
    std::vector<std::string> calls = Split(FindScript(a), '|');
    size_t n = static_cast<size_t>(NextCallNumber());
    const std::string& call = calls[std::min(n, calls.size() - 1)];
    return Run(a, call);
}
