#include "tools/convert/ffmpeg_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tools/convert/slot.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long ffmpeg may take to finish after "q", and then after SIGTERM.
constexpr auto kQuitGrace = std::chrono::seconds(3);
constexpr auto kTermGrace = std::chrono::seconds(3);
// The stop byte is looked at on every pass: at least ten times a second.
constexpr int kPollMs = 50;
// Nice value of the thread that measures the source during a conversion.
constexpr int kMeasureNice = 10;

volatile sig_atomic_t gEndSignal = 0;

void OnEndSignal(int sig) {
    gEndSignal = sig;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

class Fd {
public:
    Fd() = default;
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read;
    Fd write;
    bool Open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        read.Reset(fds[0]);
        write.Reset(fds[1]);
        return true;
    }
};

// Splits a byte stream into lines; ffmpeg ends some with '\r' only.
class LineSplitter {
public:
    template <typename Fn>
    void Feed(const char* data, size_t size, Fn&& onLine) {
        for (size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n' || c == '\r') {
                if (!pending_.empty()) onLine(pending_);
                pending_.clear();
            } else if (pending_.size() < 64 * 1024) {
                pending_.push_back(c);
            }
        }
    }
    template <typename Fn>
    void Flush(Fn&& onLine) {
        if (!pending_.empty()) onLine(pending_);
        pending_.clear();
    }

private:
    std::string pending_;
};

// Reads what is there; false once the other end is closed.
template <typename Fn>
bool DrainFd(int fd, LineSplitter& splitter, Fn&& onLine) {
    char buffer[8192];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            splitter.Feed(buffer, static_cast<size_t>(n), onLine);
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

// fork and exec: the child must die with this process (PR_SET_PDEATHSIG),
// which posix_spawn cannot arrange. Returns the pid or -1 with errorText.
pid_t SpawnFfmpeg(const std::string& path, const std::vector<std::string>& args, int stdinFd,
                  int stdoutFd, int stderrFd, std::string& errorText) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    Pipe execStatus; // closed by a successful exec, else carries errno
    if (!execStatus.Open()) {
        errorText = std::strerror(errno);
        return -1;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        errorText = std::strerror(errno);
        return -1;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        signal(SIGPIPE, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // Its own process group: a terminal's Ctrl-C reaches ffmpeg once,
        // through this process, not twice.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127); // the parent died before prctl
        if (dup2(stdinFd, 0) < 0 || dup2(stdoutFd, 1) < 0 || dup2(stderrFd, 2) < 0) {
            const int err = errno;
            (void)!write(execStatus.write.get(), &err, sizeof err);
            _exit(127);
        }
        execv(path.c_str(), argv.data());
        const int err = errno;
        (void)!write(execStatus.write.get(), &err, sizeof err);
        _exit(127);
    }
    execStatus.write.Close();
    int childErrno = 0;
    ssize_t n;
    do {
        n = read(execStatus.read.get(), &childErrno, sizeof childErrno);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof childErrno)) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        errorText = std::strerror(childErrno);
        return -1;
    }
    return pid;
}

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

} // namespace

std::string FindFfmpeg() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, static_cast<size_t>(n));
        const size_t slash = dir.find_last_of('/');
        if (slash != std::string::npos) {
            dir.resize(slash);
            const std::string beside = dir + "/ffmpeg";
            if (IsExecutableFile(beside)) return beside;
        }
    }
    const char* pathEnv = std::getenv("PATH");
    const std::string path = pathEnv ? pathEnv : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t colon = path.find(':', start);
        std::string dir = path.substr(start, colon == std::string::npos ? std::string::npos
                                                                         : colon - start);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/ffmpeg";
        if (IsExecutableFile(candidate)) return candidate;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return {};
}

void InstallStopSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: poll() wakes up at once
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

RunOutcome RunFfmpeg(const RunSetup& setup) {
    RunOutcome outcome;
    Pipe in, out, err;
    if (!in.Open() || !out.Open() || !err.Open()) {
        outcome.startError = std::strerror(errno);
        return outcome;
    }
    const pid_t pid = SpawnFfmpeg(setup.ffmpegPath, setup.args, in.read.get(), out.write.get(),
                                  err.write.get(), outcome.startError);
    in.read.Close();
    out.write.Close();
    err.write.Close();
    if (pid < 0) return outcome;
    outcome.started = true;
    SetNonBlocking(in.write.get());
    SetNonBlocking(out.read.get());
    SetNonBlocking(err.read.get());

    // ffmpeg lists the source's duration before it converts. Only when it
    // cannot say is the source measured, beside the running ffmpeg and at a
    // lower priority, so that it fills the gaps ffmpeg leaves.
    std::atomic<double> duration{-1.0};
    std::atomic<bool> measured{false};
    std::thread measurer;
    bool mayStartMeasuring = true; // until the run's end joins the thread
    auto startMeasuring = [&]() {
        if (!mayStartMeasuring || !setup.measureDuration || measurer.joinable()) return;
        try {
            measurer = std::thread([&setup, &duration, &measured] {
                sigset_t endSignals;
                sigemptyset(&endSignals);
                sigaddset(&endSignals, SIGTERM);
                sigaddset(&endSignals, SIGINT);
                sigaddset(&endSignals, SIGHUP);
                pthread_sigmask(SIG_BLOCK, &endSignals, nullptr); // the main loop handles them
                setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kMeasureNice);
                duration.store(setup.measureDuration());
                measured.store(true);
            });
        } catch (...) {
            // No thread: the progress stays at 0, the conversion goes on.
        }
    };
    bool durationPublished = false;
    auto publishDuration = [&]() {
        if (durationPublished) return;
        if (outcome.log.InputDuration() >= 0.0) {
            outcome.duration = outcome.log.InputDuration();
        } else if (measured.load()) {
            outcome.duration = duration.load();
        } else {
            startMeasuring();
            return;
        }
        durationPublished = true;
        if (setup.slot && outcome.duration >= 0.0) setup.slot->SetDuration(outcome.duration);
    };

    ProgressParser progress;
    LineSplitter outLines, errLines;
    auto onProgressLine = [&](const std::string& line) {
        if (!progress.FeedLine(line)) return;
        publishDuration();
        const ProgressReport& report = progress.Latest();
        const double percent = PercentDone(report.outTimeUs, outcome.duration);
        if (setup.slot) {
            setup.slot->SetPercent(percent);
            if (report.totalSize >= 0) setup.slot->SetAmount(report.totalSize);
            if (report.speed >= 0) setup.slot->SetSpeed(report.speed);
        }
        if (setup.printProgress) {
            std::fprintf(stderr, "\r%5.1f %%  %.0f KiB  %.2fx ", percent,
                         report.totalSize > 0 ? report.totalSize / 1024 : 0.0,
                         report.speed > 0 ? report.speed : 0.0);
            std::fflush(stderr);
        }
    };
    auto onLogLine = [&](const std::string& line) { outcome.log.FeedLine(line); };

    enum class Ending { None, Quit, Term, Kill };
    Ending ending = Ending::None;
    Clock::time_point endingSince{};
    bool outOpen = true, errOpen = true, childDone = false;
    Clock::time_point childDoneAt{};
    int status = 0;

    // ffmpeg closes its pipes a little before it can be reaped (unloading
    // its libraries): its pidfd wakes us at once when it has ended.
    Fd childFd;
#ifdef SYS_pidfd_open
    childFd.Reset(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
#endif
    for (;;) {
        pollfd fds[3];
        nfds_t count = 0;
        if (outOpen) fds[count++] = {.fd = out.read.get(), .events = POLLIN, .revents = 0};
        if (errOpen) fds[count++] = {.fd = err.read.get(), .events = POLLIN, .revents = 0};
        if (!childDone && childFd.get() >= 0) fds[count++] = {.fd = childFd.get(), .events = POLLIN, .revents = 0};
        // Without a pidfd, look often once the pipes have ended.
        const int timeout = childDone ? 0 : (outOpen || errOpen || childFd.get() >= 0) ? kPollMs : 5;
        poll(count > 0 ? fds : nullptr, count, timeout);

        // The log first: its listing (with the duration) was written before
        // any progress block.
        if (errOpen) errOpen = DrainFd(err.read.get(), errLines, onLogLine);
        if (outOpen) outOpen = DrainFd(out.read.get(), outLines, onProgressLine);

        if (!childDone) {
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                childDone = true;
                childDoneAt = Clock::now();
            }
        }
        // A grandchild could keep the pipes open; do not wait for it long.
        if (childDone && ((!outOpen && !errOpen) || Clock::now() - childDoneAt > std::chrono::seconds(1)))
            break;
        if (childDone) continue;

        const auto now = Clock::now();
        if (ending == Ending::None) {
            if (gEndSignal != 0) {
                outcome.endSignal = gEndSignal;
                // ffmpeg finalises its output on SIGTERM and SIGINT too.
                kill(pid, gEndSignal == SIGINT ? SIGINT : SIGTERM);
                ending = Ending::Term;
                endingSince = now;
            } else if (setup.slot && setup.slot->StopRequested()) {
                outcome.stopRequested = true;
                // "q" ends the run cleanly and writes the container's index.
                (void)!write(in.write.get(), "q\n", 2);
                ending = Ending::Quit;
                endingSince = now;
            }
        } else if (ending == Ending::Quit && now - endingSince > kQuitGrace) {
            kill(pid, SIGTERM);
            ending = Ending::Term;
            endingSince = now;
        } else if (ending == Ending::Term && now - endingSince > kTermGrace) {
            kill(pid, SIGKILL);
            ending = Ending::Kill;
            endingSince = now;
        }
    }
    mayStartMeasuring = false;
    if (measurer.joinable()) measurer.join();
    errLines.Flush(onLogLine);
    outLines.Flush(onProgressLine);
    publishDuration();
    if (setup.printProgress) std::fputc('\n', stderr);

    outcome.last = progress.Latest();
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.termSignal = WTERMSIG(status);
    }
    if (outcome.endSignal == 0 && gEndSignal != 0) outcome.endSignal = gEndSignal;
    return outcome;
}
